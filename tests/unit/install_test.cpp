// Installing pending archives: order, versions from names, what is skipped and what is kept.

#include <gtest/gtest.h>

#include <filesystem>

#include "config/config_version.h"
#include "install/archive_name.h"
#include "install/pending_archives.h"
#include "platform/files.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

TEST(ArchiveName, NameAndTitleComeFromTheLastComponent) {
  EXPECT_EQ(FileNameFromPath(u"C:\\Game\\UpdateZip\\0000100000003.zip"), u"0000100000003.zip");
  EXPECT_EQ(FileNameFromPath(u"plain.zip"), u"plain.zip");
  EXPECT_EQ(FileTitleFromPath(u"C:\\Game\\UpdateZip\\a.b.zip"), u"a.b");
  EXPECT_EQ(FileTitleFromPath(u"C:\\Game.d\\noextension"), u"");
  EXPECT_EQ(FileTitleFromPath(u".zip"), u"");
}

TEST(ArchiveName, VersionsComeFromFixedWidthFields) {
  const auto check = [](std::u16string_view title, std::int32_t first, std::int32_t second) {
    const ArchiveVersions v = VersionsFromFileTitle(title);
    EXPECT_EQ(v.first, first) << std::string(title.begin(), title.end());
    EXPECT_EQ(v.second, second) << std::string(title.begin(), title.end());
  };
  check(u"1000200000015", 10002, 15);
  check(u"12345", 12345, 0);
  check(u"0000100000003-extra999", 1, 3);
  check(u"00001000000039999", 1, 3);
  check(u"update", 0, 0);
  check(u"-0001+0000007", -1, 7);
  check(u"", 0, 0);
}

// A temporary installation with "Sys\Config.ini" and "UpdateZip\".
class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir() / "Sys");
    fs::create_directories(dir() / "UpdateZip");
    test::WriteFile(dir() / "Sys" / "Config.ini",
                    "[VERSION]\r\nFirstVersion=1\r\nSecondVersion=2\r\n");
  }
  fs::path dir() const { return temp_.path() / "game"; }
  std::u16string programDirectory() const { return test::CoreText(dir()) + u"\\"; }
  fs::path pending(const char* name) const { return dir() / "UpdateZip" / name; }
  std::pair<std::int32_t, std::int32_t> Recorded() const {
    std::int32_t first = -99, second = -99;
    ReadConfigVersion(programDirectory() + u"Sys\\Config.ini", first, second);
    return {first, second};
  }
  void InstallAndDelete() {
    InstallPendingArchives(programDirectory());
    DeletePendingArchives(programDirectory());
  }

  test::TempDir temp_;
};

TEST_F(Installer, InstallsEveryArchiveInSearchOrderAndRecordsTheLastOnesVersions) {
  test::WriteFile(dir() / "readme.txt", "old");
  test::WriteFile(pending("0000100000003.zip"),
                  test::BuildZip({{"readme.txt", "three"}, {"data/maps/a.map", "map3"}}));
  test::WriteFile(pending("0000100000004.zip"), test::BuildZip({{"readme.txt", "four"}}));

  InstallAndDelete();

  EXPECT_EQ(test::ReadFile(dir() / "readme.txt"), "four");
  EXPECT_EQ(test::ReadFile(dir() / "data" / "maps" / "a.map"), "map3");
  EXPECT_EQ(Recorded(), std::make_pair(1, 4));
  EXPECT_TRUE(fs::is_empty(dir() / "UpdateZip"));
}

TEST_F(Installer, ANonArchiveIsRecordedAndDeletedAndADirectoryNamedZipStays) {
  test::WriteFile(pending("0000100000009.zip"), "this is no archive");
  fs::create_directory(pending("0000100000010.zip"));
  test::WriteFile(pending("0000100000011.zip.part"), "half a download");
  test::WriteFile(pending("notes.txt"), "kept");

  InstallAndDelete();

  EXPECT_EQ(Recorded(), std::make_pair(1, 9));
  EXPECT_FALSE(fs::exists(pending("0000100000009.zip")));
  EXPECT_FALSE(fs::exists(pending("0000100000011.zip.part")));
  EXPECT_TRUE(fs::is_directory(pending("0000100000010.zip")));
  EXPECT_TRUE(fs::exists(pending("notes.txt")));
}

TEST_F(Installer, AnArchiveCarryingTheConfigurationReplacesItBeforeItsVersionsAreWritten) {
  fs::remove(dir() / "Sys" / "Config.ini");
  test::WriteFile(pending("0000200000001.zip"),
                  test::BuildZip({{"Sys/Config.ini", "[Other]\r\nkey=kept\r\n"}}));
  InstallAndDelete();
  EXPECT_EQ(Recorded(), std::make_pair(2, 1));
  const std::string config = test::ReadFile(dir() / "Sys" / "Config.ini");
  EXPECT_NE(config.find("key=kept"), std::string::npos) << config;
}

TEST_F(Installer, WithoutAConfigurationNothingIsRecordedAndNoFileCreated) {
  fs::remove(dir() / "Sys" / "Config.ini");
  test::WriteFile(pending("0000100000005.zip"), test::BuildZip({{"a.txt", "a"}}));
  InstallAndDelete();
  EXPECT_EQ(test::ReadFile(dir() / "a.txt"), "a");
  EXPECT_FALSE(fs::exists(dir() / "Sys" / "Config.ini"));
  EXPECT_FALSE(fs::exists(pending("0000100000005.zip")));
}

TEST_F(Installer, AReadOnlyFileIsLeftButTheOtherItemsAndTheVersionsGoThrough) {
  test::WriteFile(dir() / "locked.dat", "locked");
  fs::permissions(dir() / "locked.dat",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  test::WriteFile(pending("0000100000006.zip"),
                  test::BuildZip({{"locked.dat", "new"}, {"free.dat", "free"}}));
  InstallAndDelete();
  EXPECT_EQ(test::ReadFile(dir() / "locked.dat"), "locked");
  EXPECT_EQ(test::ReadFile(dir() / "free.dat"), "free");
  EXPECT_EQ(Recorded(), std::make_pair(1, 6));
  EXPECT_FALSE(fs::exists(pending("0000100000006.zip")));
}

TEST_F(Installer, AMissingPendingFolderChangesNothing) {
  fs::remove(dir() / "UpdateZip");
  InstallAndDelete();
  EXPECT_EQ(Recorded(), std::make_pair(1, 2));
  EXPECT_FALSE(fs::exists(dir() / "UpdateZip"));
}

TEST_F(Installer, TheCurrentDirectoryIsRestored) {
  test::WriteFile(pending("0000100000007.zip"), test::BuildZip({{"b.txt", "b"}}));
  char16_t before[1024] = {};
  GetCurrentDirectoryW(1024, before);
  InstallAndDelete();
  char16_t after[1024] = {};
  GetCurrentDirectoryW(1024, after);
  EXPECT_EQ(std::u16string(before), std::u16string(after));
  EXPECT_EQ(test::ReadFile(dir() / "b.txt"), "b");
}

}  // namespace
}  // namespace tarvo
