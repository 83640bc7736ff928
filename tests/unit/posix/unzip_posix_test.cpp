// What extraction means on POSIX, where files have modes instead of attributes, links exist,
// and an open archive can be cut short under the reader.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <filesystem>

#include "platform/output_file.h"
#include "support/test_support.h"
#include "support/zip_builder.h"
#include "unzip/zip_archive.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

struct OpenArchive {
  test::TempDir dir;
  ZipHandle zip = nullptr;
  explicit OpenArchive(const std::vector<test::ZipEntry>& entries) {
    test::WriteFile(dir.path() / "a.zip", test::BuildZip(entries));
    const fs::path saved = fs::current_path();
    fs::current_path(dir.path());
    zip = ZipOpenArchive(test::CoreText(dir.path() / "a.zip").c_str());
    fs::current_path(saved);
  }
  ~OpenArchive() { ZipCloseArchive(zip); }
};

TEST(PosixUnzip, TheCachedRecordIsServedWithoutReadingTheArchive) {
  // Data long enough that the second record does not stay in a read buffer.
  OpenArchive archive({{.name = "dir/",
                        .data = std::string(20000, 'd'),
                        .method = 0,
                        .externalAttributes = 0x41ED0000},
                       {.name = "f"}});
  ZipItem item{};
  ASSERT_EQ(ZipGetItem(archive.zip, 0, &item), ZIP_OK);
  fs::resize_file(archive.dir.path() / "a.zip", 0);  // the open file is now empty
  item = ZipItem{};
  EXPECT_EQ(ZipGetItem(archive.zip, 0, &item), ZIP_OK);
  EXPECT_EQ(std::u16string(item.name), u"dir/");
  EXPECT_EQ(ZipGetItem(archive.zip, 1, &item), ZIP_ERR_CORRUPT);
  EXPECT_EQ(ZipExtractItem(archive.zip, 0, u"dir/"), ZIP_OK);
  EXPECT_TRUE(fs::is_directory(archive.dir.path() / "dir"));
}

// The archive loses the second half of an item's data, which spans several read blocks, while
// it is open: what was written of the item goes, and the installed file stays.
TEST(PosixUnzip, AnArchiveCutShortMidItemLeavesTheTargetAsItWas) {
  std::string data(3 << 20, '\0');
  std::uint32_t state = 7;
  for (char& c : data) c = static_cast<char>((state = state * 1103515245 + 12345) >> 24);
  for (const std::uint16_t method : {0, 8}) {
    SCOPED_TRACE(method);
    OpenArchive archive({{.name = "game.dat", .data = data, .method = method}});
    const fs::path target = archive.dir.path() / "game.dat";
    test::WriteFile(target, "installed");
    ZipItem item{};
    ASSERT_EQ(ZipGetItem(archive.zip, 0, &item), ZIP_OK);
    fs::resize_file(archive.dir.path() / "a.zip", 3 << 19);
    EXPECT_EQ(ZipExtractItem(archive.zip, 0, test::CoreText(target).c_str()), ZIP_ERR_DATA);
    EXPECT_EQ(test::ReadFile(target), "installed");
    EXPECT_FALSE(fs::exists(archive.dir.path() / "game.dat.tvnew"));
  }
}

TEST(PosixUnzip, LinksBecomePlainFilesAndReadOnlyClearsEveryWriteBit) {
  OpenArchive archive(
      {{.name = "link", .data = "/etc/passwd", .externalAttributes = 0xA1FF0000},
       {.name = "ro", .data = "r", .externalAttributes = 0x81B60000 & ~0x00800000u}});
  EXPECT_EQ(ZipExtractItem(archive.zip, 0, u"link"), ZIP_OK);
  EXPECT_EQ(ZipExtractItem(archive.zip, 1, u"ro"), ZIP_OK);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(archive.dir.path() / "link")));
  EXPECT_EQ(test::ReadFile(archive.dir.path() / "link"), "/etc/passwd");
  struct stat st {};
  ASSERT_EQ(stat((archive.dir.path() / "ro").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
}

// The launcher itself stays executable when an update replaces it.
TEST(PosixUnzip, AFileThatReplacesAnotherKeepsItsPermissionBits) {
  OpenArchive archive({{.name = "tarvo", .data = "new launcher", .externalAttributes = 0x81A40000},
                       {.name = "fresh", .data = "new file", .externalAttributes = 0x81A40000}});
  const fs::path launcher = archive.dir.path() / "tarvo";
  test::WriteFile(launcher, "old launcher");
  ASSERT_EQ(chmod(launcher.c_str(), 0750), 0);
  EXPECT_EQ(ZipExtractItem(archive.zip, 0, u"tarvo"), ZIP_OK);
  EXPECT_EQ(ZipExtractItem(archive.zip, 1, u"fresh"), ZIP_OK);
  struct stat st {};
  ASSERT_EQ(stat(launcher.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  EXPECT_EQ(test::ReadFile(launcher), "new launcher");
  ASSERT_EQ(stat((archive.dir.path() / "fresh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0111, 0u);
}

TEST(PosixUnzip, LocalTimesAreShiftedByTheZoneOffsetInForce) {
  const char* saved = getenv("TZ");
  const std::string previous = saved ? saved : "";
  setenv("TZ", "XST-5", 1);  // five hours east of UTC, all year
  tzset();
  std::uint64_t utc = 0;
  const std::uint64_t local = 128840950420000000;
  EXPECT_TRUE(LocalFileTimeToFileTime(local, &utc));
  EXPECT_EQ(local - utc, 5ull * 3600 * 10000000);
  EXPECT_FALSE(LocalFileTimeToFileTime(0, &utc));
  if (saved) {
    setenv("TZ", previous.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
}  // namespace tarvo
