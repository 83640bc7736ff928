// tarvo-publish and patches: segments that survive an insertion, patches checked before they
// are published, the segment store written once and checked by --check, and the launcher's own
// installation of what was published.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "common/utf.h"
#include "install/extract_archive.h"
#include "patch/patch_format.h"
#include "platform/disk_flush.h"
#include "publish/content_segments.h"
#include "publish/tool.h"
#include "support/patch_builder.h"
#include "support/test_support.h"
#include "unzip/zip_archive.h"

namespace tarvo::publish {
namespace {

namespace fs = std::filesystem;
using test::NoiseBytes;
using test::ReadFile;
using test::WriteFile;

constexpr std::size_t kMiB = 1 << 20;

std::set<SegmentHash> Hashes(const std::string& bytes) {
  std::set<SegmentHash> hashes;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  for (const ContentSegment& segment : CutIntoSegments(data, bytes.size())) {
    EXPECT_LE(segment.length, kMaxSegmentSize);
    EXPECT_TRUE(segment.length >= kMinContentSegment ||
                segment.offset + segment.length == bytes.size());
    hashes.insert(segment.hash);
  }
  return hashes;
}

// Bytes inserted into a file change the segments around them alone: the store gains those.
TEST(ContentSegments, AnInsertionChangesTheSegmentsAroundItAlone) {
  const std::string before = NoiseBytes(96 * kMiB, 1);
  std::string after = before;
  after.insert(50 * kMiB, NoiseBytes(3 * kMiB, 2));
  after.replace(10 * kMiB, 64 * 1024, NoiseBytes(64 * 1024, 3));
  const std::set<SegmentHash> old = Hashes(before);
  std::size_t fresh = 0;
  for (const SegmentHash& hash : Hashes(after)) fresh += old.count(hash) == 0 ? 1 : 0;
  EXPECT_GE(old.size(), 8u);
  EXPECT_LE(fresh, 4u) << "of " << old.size();
}

class PublishPatches : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(previous_ / "Sys");
    fs::create_directories(previous_ / "data");
    WriteFile(previous_ / "Sys/Config.ini", "[VERSION]\r\nFirstVersion=1\r\nSecondVersion=2\r\n");
    WriteFile(previous_ / "data/pack.bin", pack_);
    WriteFile(previous_ / "small.txt", "small");
    fs::copy(previous_, next_, fs::copy_options::recursive);
    newPack_.insert(9 * kMiB, NoiseBytes(kMiB, 4));
    newPack_.replace(20 * kMiB, 4096, NoiseBytes(4096, 5));
    WriteFile(next_ / "data/pack.bin", newPack_);
    WriteFile(next_ / "small.txt", "smaller");
    fs::create_directories(site_ / "updates");
  }

  int Run(std::vector<std::string> arguments, std::string* out = nullptr) {
    std::ostringstream output, errors;
    const int status = RunTool(arguments, output, errors);
    if (out != nullptr) *out = output.str() + errors.str();
    return status;
  }
  std::vector<std::string> Arguments(std::vector<std::string> more = {}) const {
    std::vector<std::string> arguments = {
        "--site", site_.string(), "--url", kBaseUrl,           "--first",
        "1",      "--second",     "3",     previous_.string(), next_.string()};
    arguments.insert(arguments.begin(), more.begin(), more.end());
    return arguments;
  }
  // The archive's items, and the stored size of each.
  std::map<std::string, std::uint64_t> Items() const {
    std::map<std::string, std::uint64_t> items;
    const ZipHandle zip = ZipOpenArchive(test::CoreText(archive_).c_str());
    ZipItem item{};
    ZipGetItem(zip, -1, &item);
    for (std::int32_t i = 0, count = item.index; i < count; ++i) {
      ZipGetItem(zip, i, &item);
      items[Utf16ToUtf8(item.name)] = item.compressedSize;
    }
    ZipCloseArchive(zip);
    return items;
  }

  static constexpr const char* kBaseUrl = "http://updates.example.com/updates";
  test::TempDir dir_;
  fs::path previous_ = dir_.path() / "previous";
  fs::path next_ = dir_.path() / "next";
  fs::path site_ = dir_.path() / "site";
  fs::path archive_ = site_ / "updates/0000100000003.zip";
  fs::path store_ = site_ / "updates/segments";
  std::string pack_ = NoiseBytes(28 * kMiB, 3);
  std::string newPack_ = pack_;
};

TEST_F(PublishPatches, ALargeChangedFileGoesAsAPatchThatTheLauncherInstalls) {
  std::string out;
  ASSERT_EQ(Run(Arguments(), &out), 0) << out;
  const auto items = Items();
  ASSERT_EQ(items.count("data/pack.bin.tvpatch"), 1u) << out;
  EXPECT_EQ(items.count("small.txt"), 1u) << "small files go whole";
  EXPECT_LT(items.at("data/pack.bin.tvpatch"), 2 * kMiB) << "about what changed";
  EXPECT_NE(out.find("patched data/pack.bin:"), std::string::npos) << out;
  std::size_t frames = 0;
  for (const auto& entry : fs::directory_iterator(store_)) frames += entry.is_regular_file();
  ASSERT_GE(frames, 2u) << "every segment of the new file";
  EXPECT_EQ(Run({"--check", site_.string()}, &out), 0) << out;

  // The launcher's installation of it makes the new file from the previous one.
  fs::copy(previous_, dir_.path() / "game", fs::copy_options::recursive);
  EXPECT_EQ(ExtractArchiveToProgramDir(test::CoreText(archive_),
                                       test::CoreText(dir_.path() / "game") + u"\\", std::nullopt,
                                       NoDiskFlush()),
            ArchiveInstall::kDone);
  EXPECT_TRUE(ReadFile(dir_.path() / "game/data/pack.bin") == newPack_);
  EXPECT_EQ(ReadFile(dir_.path() / "game/small.txt"), "smaller");

  // A store that lost a frame, or holds wrong bytes under another's name, fails the check.
  std::vector<fs::path> stored;
  for (const auto& entry : fs::directory_iterator(store_)) stored.push_back(entry.path());
  fs::remove(stored[0]);
  WriteFile(stored[1], test::Frame("not this segment"));
  EXPECT_EQ(Run({"--check", site_.string()}, &out), 1);
  EXPECT_NE(out.find(stored[0].filename().string() + ", which is missing"), std::string::npos)
      << out;
  EXPECT_NE(out.find(stored[1].filename().string() + ", which is missing"), std::string::npos)
      << out;
  EXPECT_NE(out.find("2 problem(s)"), std::string::npos) << out;

  // Published again, the store gains the missing frame and keeps the one it has.
  ASSERT_EQ(Run(Arguments({"--force"}), &out), 0) << out;
  EXPECT_TRUE(fs::exists(stored[0]));
  EXPECT_EQ(ReadFile(stored[1]), test::Frame("not this segment")) << "written once";
}

TEST_F(PublishPatches, FilesGoWholeBelowTheThresholdOrWhenAPatchDoesNotPay) {
  ASSERT_EQ(Run(Arguments({"--patch-threshold", "30"})), 0);
  EXPECT_EQ(Items().count("data/pack.bin"), 1u);
  EXPECT_FALSE(fs::exists(store_));
  ASSERT_EQ(Run(Arguments({"--force", "--no-patches"})), 0);
  EXPECT_EQ(Items().count("data/pack.bin"), 1u);
  // Nothing of the previous file is left in the new one.
  WriteFile(next_ / "data/pack.bin", NoiseBytes(28 * kMiB, 9));
  ASSERT_EQ(Run(Arguments({"--force"})), 0);
  EXPECT_EQ(Items().count("data/pack.bin"), 1u);
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(site_)) {
    names.insert(entry.path().lexically_relative(site_).generic_string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"tarvo-bases.txt", "updates", "updates/0000100000003.zip",
                                          "zip.html"}))
      << "no work files, and no segments of a patch not published";
}

TEST_F(PublishPatches, RefusesWhatLaunchersWouldMistakeAndOptionsThatMakeNoSense) {
  std::string out;
  WriteFile(next_ / "notes.tvpatch", "a file of the game");
  EXPECT_EQ(Run(Arguments(), &out), 1);
  EXPECT_NE(out.find("notes.tvpatch: launchers take a file named *.tvpatch for a patch"),
            std::string::npos)
      << out;
  fs::remove(next_ / "notes.tvpatch");
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--patch-threshold", "0"},
        {"--patch-threshold", "x"},
        {"--no-patches", "--patch-threshold", "4"},
        {"--store-url", "ftp://host/segments/"}}) {
    EXPECT_EQ(Run(Arguments(options)), 2) << options[0];
  }
  EXPECT_FALSE(fs::exists(archive_));
  // A store of its own, served where told.
  ASSERT_EQ(Run(Arguments({"--store", (dir_.path() / "store").string(), "--store-url",
                           "http://cdn.example.com/segments"}),
                &out),
            0)
      << out;
  EXPECT_NE(out.find("served at http://cdn.example.com/segments/"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(store_));
  EXPECT_EQ(Run({"--check", site_.string(), "--store", (dir_.path() / "store").string()}), 0);
}

}  // namespace
}  // namespace tarvo::publish
