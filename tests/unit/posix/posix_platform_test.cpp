// What the POSIX layer adds to stand in for Windows: directory order, backslash separators,
// locks that a client being started does not hold, and termination signals as IDCANCEL.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/framework.h"
#include "platform/process.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

TEST(PosixFileFind, ReturnsNamesInCaseInsensitiveOrdinalOrder) {
  test::TempDir dir;
  for (const char* name :
       {"0000100000010.zip", "b.zip", "A.ZIP", "0000100000002.zip", "a1.zip", "_x.zip", "c.Zip"}) {
    test::WriteFile(dir.path() / name, "x");
  }
  CFileFind find;
  ASSERT_TRUE(find.FindFile((test::CoreText(dir.path()) + u"\\*.ZIP").c_str()));
  std::vector<std::u16string> names;
  bool more = true;
  while (more) {
    more = find.FindNextFile();
    names.push_back(find.GetFileName());
  }
  // Upper-cased, "_" (0x5F) sorts after the letters, as NTFS orders it.
  EXPECT_EQ(names,
            (std::vector<std::u16string>{u"0000100000002.zip", u"0000100000010.zip", u"A.ZIP",
                                         u"a1.zip", u"b.zip", u"c.Zip", u"_x.zip"}));
}

TEST(PosixFiles, BackslashesSeparateAndReturnedPathsUseThem) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.path() / "a" / "b");
  const std::u16string mixed = test::CoreText(dir.path()) + u"\\a/b";
  EXPECT_TRUE(PathFileExistsW(mixed.c_str()));
  char16_t saved[1024] = {};
  GetCurrentDirectoryW(1024, saved);
  ASSERT_TRUE(SetCurrentDirectoryW(mixed.c_str()));
  char16_t now[1024] = {};
  GetCurrentDirectoryW(1024, now);
  EXPECT_EQ(std::u16string(now),
            test::CoreText(std::filesystem::canonical(dir.path() / "a" / "b")));
  EXPECT_EQ(std::u16string(now).find(u'/'), std::u16string::npos);
  SetCurrentDirectoryW(saved);
}

// A client being started holds copies of the launcher's descriptors, and the locks with them,
// until it runs; a file that a download closes and opens again meanwhile, as it does to check
// its archive, still opens.
TEST(PosixProcess, AFileOpenedAgainWhileTheClientStartsIsNotHeldByIt) {
  test::TempDir dir;
  const std::u16string path = test::CoreText(dir.path() / "0000100000003.zip.kept");
  std::atomic<bool> started{false};
  std::thread client([&started] {
    for (int i = 0; i < 200; ++i) {
      ShellExecuteW(nullptr, u"open", u"/bin/true", u"", nullptr, SW_SHOWNORMAL);
    }
    started = true;
  });
  int refused = 0;
  while (!started) {
    CFile kept;
    if (!kept.Open(path.c_str(),
                   CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive)) {
      ++refused;
    }
  }
  client.join();
  EXPECT_EQ(refused, 0);
}

class IdleDialog : public CDialog {
 public:
  IdleDialog() : CDialog(0) {}
  BOOL OnInitDialog() override {
    std::thread([] { kill(getpid(), SIGTERM); }).detach();
    return TRUE;
  }
};

TEST(PosixDialog, TerminationSignalsArriveAsCancel) {
  IdleDialog dialog;
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

}  // namespace
}  // namespace tarvo
