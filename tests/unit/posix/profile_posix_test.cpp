// What our own profile functions promise beyond the system's: an edit touches only the line it
// writes, and the file is replaced whole, so that no failure leaves it damaged.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

#include "platform/posix/profile_text.h"
#include "platform/profile.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

// Bytes given as a literal that may hold NULs.
template <std::size_t N>
std::string Raw(const char (&bytes)[N]) {
  return std::string(bytes, N - 1);
}

std::string Set(std::string_view bytes, std::u16string_view section, std::u16string_view key,
                std::u16string_view value) {
  const std::optional<std::string> edited = SetProfileValue(bytes, section, key, value);
  EXPECT_TRUE(edited.has_value());
  return edited.value_or(std::string(bytes));
}

TEST(ProfileText, AWriteChangesOnlyTheLineItWrites) {
  const std::string file =
      "; written by hand\n"
      "[VERSION] ; the recorded pair\n"
      "FirstVersion = 1   \n"
      "\tName=\xFF\xFE broken bytes\n"
      "valueless\n"
      "\n"
      "\n"
      "[Other]\n"
      "x=1";
  EXPECT_EQ(Set(file, u"version", u"firstversion", u"7"),
            "; written by hand\n[VERSION] ; the recorded pair\nFirstVersion = 7\n"
            "\tName=\xFF\xFE broken bytes\nvalueless\n\n\n[Other]\nx=1");
  EXPECT_EQ(Set(file, u"VERSION", u"SecondVersion", u"2"),
            "; written by hand\n[VERSION] ; the recorded pair\nFirstVersion = 1   \n"
            "\tName=\xFF\xFE broken bytes\nvalueless\nSecondVersion=2\n\n\n[Other]\nx=1");
  EXPECT_EQ(Set(file, u"VERSION", u"Valueless", u"v"),
            "; written by hand\n[VERSION] ; the recorded pair\nFirstVersion = 1   \n"
            "\tName=\xFF\xFE broken bytes\nvalueless=v\n\n\n[Other]\nx=1");
  EXPECT_EQ(Set(file, u"Other", u"y", u"2"), file + "\ny=2\n");
  EXPECT_EQ(Set(file, u"New", u"k", u"v"), file + "\n[New]\nk=v\n");
  EXPECT_EQ(FindProfileValue(file, u"VERSION", u"Name"), u"\uFFFD\uFFFD broken bytes");
}

TEST(ProfileText, WritingTheSameValueAgainChangesNothing) {
  const std::string file = "[A]\nk = 1\n";
  for (const std::u16string value : {u"2", u"  padded", u"\"quoted\" ", u""}) {
    const std::string once = Set(file, u"A", u"k", value);
    EXPECT_EQ(Set(once, u"A", u"k", value), once);
    EXPECT_EQ(Set(Set(file, u"A", u"new", value), u"A", u"new", value),
              Set(file, u"A", u"new", value));
  }
  EXPECT_EQ(Set(file, u"A", u"k", u"  padded"), "[A]\nk =  padded\n");
}

TEST(ProfileText, NewLinesTakeTheFilesLineEnding) {
  EXPECT_EQ(Set("[A]\rk=1\r", u"A", u"j", u"2"), "[A]\rk=1\rj=2\r");
  EXPECT_EQ(Set("[A]\r\nk=1\n", u"A", u"j", u"2"), "[A]\r\nk=1\nj=2\r\n");
  EXPECT_EQ(Set("[A]", u"A", u"j", u"2"), "[A]\r\nj=2\r\n");
  EXPECT_EQ(Set("", u"A", u"j", u"2"), "[A]\r\nj=2\r\n");
  EXPECT_EQ(FindProfileValue("[A]\rk=1\rj=2", u"A", u"j"), u"2");
}

TEST(ProfileText, ByteOrderMarksAndTheEncodingStay) {
  const std::string utf8 = "\xEF\xBB\xBF[A]\nk=\xC3\xA9\n";
  EXPECT_EQ(FindProfileValue(utf8, u"A", u"k"), u"\u00E9");
  EXPECT_EQ(Set(utf8, u"A", u"k", u"\u4E2D"), "\xEF\xBB\xBF[A]\nk=\xE4\xB8\xAD\n");

  // UTF-16LE: "[A]\nk=1\n", and an odd last byte that is no part of the text.
  const std::string utf16 =
      Raw("\xFF\xFE[\0A\0]\0\n\0k\0=\0"
          "1\0\n\0!");
  EXPECT_EQ(FindProfileValue(utf16, u"a", u"K"), u"1");
  EXPECT_EQ(Set(utf16, u"A", u"j", u"\u4E2D"), Raw("\xFF\xFE[\0A\0]\0\n\0k\0=\0"
                                                   "1\0\n\0j\0=\0\x2D\x4E\n\0!"));
  EXPECT_EQ(Set(std::string("\xFF\xFE"), u"S", u"k", u"\U0001F600"),
            Raw("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\x3D\xD8\x00\xDE\r\0\n\0"));
}

TEST(ProfileText, KeysBeforeTheFirstSectionFormTheSectionWithoutAName) {
  const std::string file = "top=1\n\n[A]\nk=2\n[]\nhidden=3\n";
  EXPECT_EQ(FindProfileValue(file, u"", u"top"), u"1");
  EXPECT_EQ(FindProfileValue(file, u"", u"hidden"), std::nullopt);
  EXPECT_EQ(Set(file, u" ", u"next", u"4"), "top=1\nnext=4\n\n[A]\nk=2\n[]\nhidden=3\n");
  EXPECT_EQ(Set("[A]\n", u"", u"k", u"v"), "k=v\n[A]\n");
}

TEST(ProfileText, RefusesWhatWouldNotReadBackAsWritten) {
  const std::string file = "[A]\r\nk=1\r\n";
  const std::tuple<std::u16string, std::u16string, std::u16string> refused[] = {
      {u"A", u"k", u"2\r\n[A]"},
      {u"A", u"k", u"2\n"},
      {u"A", u"k", u"2\r"},
      {u"A\n", u"k", u"2"},
      {u"A", u"k\nk", u"2"},
      {u"A", u"k=j", u"2"},
      {u"A", u" [k]", u"2"},
      {u"A", u"k",
       std::u16string(u"2\0"
                      "3",
                      3)},
      {u"A", u"k", u"\xD800"},
  };
  for (const auto& [section, key, value] : refused) {
    EXPECT_EQ(SetProfileValue(file, section, key, value), std::nullopt);
  }
  // A key that would open an 8-bit file with the bytes of a UTF-8 byte-order mark.
  EXPECT_EQ(SetProfileValue("", u"", u"\uFEFFk", u"1"), std::nullopt);
  EXPECT_EQ(FindProfileValue(Set("[A]\n", u"A", u"\uFEFFk", u"1"), u"A", u"\uFEFFk"), u"1");
  // UTF-16LE holds what UTF-8 cannot: an unpaired surrogate.
  EXPECT_EQ(FindProfileValue(Set("\xFF\xFE", u"A", u"k", u"\xD800"), u"A", u"k"), u"\xD800");
  // A section name may hold "]": the name runs to the last one.
  EXPECT_EQ(FindProfileValue(Set(file, u"x]y", u"k", u"2"), u"x]y", u"k"), u"2");
}

// A folder with Config.ini in it, for what the file layer adds.
class PosixProfile : public ::testing::Test {
 protected:
  std::filesystem::path File() const { return dir_.path() / "Config.ini"; }
  std::u16string Path() const { return test::CoreText(File()); }
  BOOL Put(const char16_t* value) const {
    return WritePrivateProfileStringW(u"VERSION", u"FirstVersion", value, Path().c_str());
  }
  std::u16string Get() const {
    char16_t buffer[256] = {};
    GetPrivateProfileStringW(u"VERSION", u"FirstVersion", u"none", buffer, 255, Path().c_str());
    return buffer;
  }
  std::size_t FilesInFolder() const {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      ++count;
    }
    return count;
  }

  test::TempDir dir_;
  const std::string original_ = "[VERSION]\r\nFirstVersion=1\r\n";
};

TEST_F(PosixProfile, AWriteKeepsThePermissionBitsAndLeavesNothingBehind) {
  test::WriteFile(File(), original_);
  std::filesystem::permissions(File(), std::filesystem::perms(0640));
  ASSERT_TRUE(Put(u"2"));
  EXPECT_EQ(test::ReadFile(File()), "[VERSION]\r\nFirstVersion=2\r\n");
  EXPECT_EQ(std::filesystem::status(File()).permissions(), std::filesystem::perms(0640));
  EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(PosixProfile, AReadOnlyFileIsLeftAsItWas) {
  test::WriteFile(File(), original_);
  std::filesystem::permissions(File(), std::filesystem::perms(0444));
  // Also when the permission bits would not stop this user (root): the read-only attribute
  // of Windows binds everyone.
  EXPECT_FALSE(Put(u"2"));
  EXPECT_EQ(test::ReadFile(File()), original_);
  EXPECT_EQ(Get(), u"1");
}

TEST_F(PosixProfile, AFullDiskLeavesTheOldFile) {
  test::WriteFile(File(), original_);
  // A file size limit makes writing fail as a full disk does, whoever runs the test.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const BOOL written = Put(std::u16string(100, u'9').c_str());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(test::ReadFile(File()), original_);
  EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(PosixProfile, AWriteReplacesTheFileInsteadOfWritingIntoIt) {
  // A reader that opened the file before the write still reads the old file whole: the new
  // one took its place by rename, so there was never a moment when the name led to a file
  // half written.
  test::WriteFile(File(), original_);
  std::ifstream before(File(), std::ios::binary);
  ASSERT_TRUE(Put(u"2"));
  const std::string seen((std::istreambuf_iterator<char>(before)),
                         std::istreambuf_iterator<char>());
  EXPECT_EQ(seen, original_);
  EXPECT_EQ(test::ReadFile(File()), "[VERSION]\r\nFirstVersion=2\r\n");
}

TEST_F(PosixProfile, ALinkStaysALinkToTheUpdatedFile) {
  std::filesystem::create_directory(dir_.path() / "real");
  test::WriteFile(dir_.path() / "real" / "Config.ini", original_);
  std::filesystem::create_symlink(dir_.path() / "real" / "Config.ini", File());
  ASSERT_TRUE(Put(u"2"));
  EXPECT_TRUE(std::filesystem::is_symlink(File()));
  EXPECT_EQ(test::ReadFile(dir_.path() / "real" / "Config.ini"), "[VERSION]\r\nFirstVersion=2\r\n");

  std::filesystem::remove(dir_.path() / "real" / "Config.ini");
  EXPECT_FALSE(Put(u"3")) << "a link that leads nowhere";
  EXPECT_TRUE(std::filesystem::is_symlink(File()));
}

TEST_F(PosixProfile, NeitherAFolderNorAFifoIsTakenForTheFile) {
  std::filesystem::create_directory(File());
  EXPECT_EQ(Get(), u"none");
  EXPECT_FALSE(Put(u"2"));
  std::filesystem::remove(File());

  // Opening a FIFO for reading would wait for a writer that never comes.
  ASSERT_EQ(mkfifo(File().c_str(), 0644), 0);
  EXPECT_EQ(Get(), u"none");
  EXPECT_FALSE(Put(u"2"));
  EXPECT_EQ(std::filesystem::status(File()).type(), std::filesystem::file_type::fifo);
}

}  // namespace
}  // namespace tarvo
