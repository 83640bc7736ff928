// Files and folders that an update removes, as the launcher applies the archive's list: what
// it may remove goes once the items are in, and nothing a hostile list names outside what an
// update may touch.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/utf.h"
#include "e2e/install_fixture.h"
#include "platform/text.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

using LauncherRemovals = test::InstallFixture;

TEST_F(LauncherRemovals, RemovesWhatTheListNamesInsideTheInstallationAndNothingElse) {
  const std::string launcher = install_.exe().filename().string();
  Record(1, 2);
  const fs::path dir = install_.dir();
  for (const char* name : {"gone.dat", "data/old/x.dat", "nonempty/keep.dat", "abs.dat", "keep.dat",
                           "UpdateZip/note.txt"}) {
    fs::create_directories((dir / name).parent_path());
    test::WriteFile(dir / name, name);
  }
  fs::create_directories(dir / "empty/inner");
  test::WriteFile(install_.root() / "outside.dat", "outside");
  const std::string config = test::ReadFile(dir / "Sys/Config.ini");
  const std::string list =
      "TARVO-REMOVALS-1\r\ngone.dat\r\ndata/old/x.dat\r\ndata/old/\r\n"
      "empty/\r\nempty/inner/\r\nnonempty/\r\nmissing.dat\r\nmissing/\r\n"
      "../outside.dat\r\n/abs.dat\r\nC:abs.dat\r\ndata/../keep.dat\r\n"
      "UpdateZip/note.txt\r\nUpdateZip/\r\nSys/Config.ini\r\n"
      "sys\\config.ini\r\nSys/Config.ini.\r\n" +
      launcher + "\r\n" + launcher + " \r\n";
  test::WriteFile(Pending("0000100000003.zip"),
                  test::BuildZip({{"Sys/TarvoRemovals.txt", list}, {"new.dat", "new"}}));

  EXPECT_EQ(RunLauncher(), 0);
  for (const char* gone : {"gone.dat", "data/old", "empty", "Sys/TarvoRemovals.txt"}) {
    EXPECT_FALSE(fs::exists(dir / gone)) << gone;
  }
  for (const char* kept : {"nonempty/keep.dat", "abs.dat", "keep.dat", "UpdateZip/note.txt"}) {
    EXPECT_EQ(test::ReadFile(dir / kept), kept);
  }
  EXPECT_TRUE(fs::is_directory(dir / "data"));
  EXPECT_EQ(test::ReadFile(install_.root() / "outside.dat"), "outside");
  EXPECT_TRUE(fs::exists(install_.exe()));
  EXPECT_EQ(test::ReadFile(dir / "new.dat"), "new");
  EXPECT_EQ(Recorded(), "1/3");
  EXPECT_EQ(test::ReadFile(dir / "Sys/Config.ini").size(), config.size());
  EXPECT_FALSE(fs::exists(Pending("0000100000003.zip")));
}

// Run again under Chinese Windows (OEM code page 936) by the Win32 tests.
TEST_F(LauncherRemovals, ANameInCodePage936RemovesTheFileOfThatName) {
  const std::u16string name = u"\u8bf4\u660e.txt";
  const std::string gbk = "\xCB\xB5\xC3\xF7.txt";
  // POSIX reads such names in code page 936 whatever its locale; Win32 in the system's OEM one.
  if (!test::HasMultiByteCodePage(OemCodePageToUtf16(gbk) == name)) return;
  Record(1, 2);
  test::WriteFile(install_.dir() / fs::path(name), "old");
  test::WriteFile(Pending("0000100000003.zip"),
                  test::BuildZip({{"Sys/TarvoRemovals.txt", "TARVO-REMOVALS-1\n" + gbk + "\n"}}));
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_FALSE(fs::exists(install_.dir() / fs::path(name)));
  EXPECT_EQ(Recorded(), "1/3");
}

}  // namespace
}  // namespace tarvo
