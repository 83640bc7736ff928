// Patches over the launcher's starts: a chain of them installed in one pass; a player's file
// that differs from the one a patch was made from, completed from the segment store in the
// background and installed at the next start; a store that lacks a segment or holds wrong
// bytes; a signed patch tampered with.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/launcher_update_host.h"
#include "support/patch_builder.h"
#include "support/test_keys.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;
using test::NoiseBytes;

constexpr std::uint32_t kSegment = 256 * 1024;

class PatchUpdates : public test::LauncherUpdateHost {
 protected:
  explicit PatchUpdates(bool signedUpdates = false) : LauncherUpdateHost(signedUpdates) {}

  void SetUp() override {
    LauncherUpdateHost::SetUp();
    if (IsSkipped()) return;
    PublishList({});
    // Versions of a pack: an edit in each of its first three segments in turn, then bytes
    // inserted into the fourth.
    versions_.push_back(NoiseBytes(4 * kSegment, 1));
    struct Change {
      std::size_t at;
      std::string bytes;
      bool insert;
    };
    for (const Change& change :
         {Change{100, NoiseBytes(2000, 2), false}, Change{kSegment + 9, NoiseBytes(700, 3), false},
          Change{2 * kSegment + 50, NoiseBytes(300, 4), false},
          Change{3 * kSegment + 70, NoiseBytes(9000, 5), true}}) {
      std::string next = versions_.back();
      if (change.insert) {
        next.insert(change.at, change.bytes);
      } else {
        next.replace(change.at, change.bytes.size(), change.bytes);
      }
      versions_.push_back(next);
    }
  }

  std::string StoreUrl() const { return ArchiveUrl("segments/"); }
  // The patch from version `from` to `to` of the pack, and the archive of `to` carrying it.
  test::BuiltPatch Patch(std::size_t from, std::size_t to) const {
    return test::MakePatch(versions_[from], versions_[to], kSegment, StoreUrl());
  }
  static std::string Archive(const test::BuiltPatch& patch, const std::string& notes) {
    return test::BuildZip({{"notes.txt", notes}, {"data/pack.bin.tvpatch", patch.Bytes(), 0}});
  }
  // Puts the store's frames of version `to` on the host; those named in `except` are left out.
  void PublishStore(const test::BuiltPatch& patch, std::size_t to,
                    const std::vector<std::string>& except = {}) {
    fs::create_directories(servers_.docroot / folder_ / "updates/segments");
    for (const auto& [name, frame] : test::StoreFrames(patch, versions_[to])) {
      if (std::find(except.begin(), except.end(), name) == except.end()) {
        PublishBytes("segments/" + name, frame);
      }
    }
  }
  static std::string FrameName(const test::BuiltPatch& patch, std::size_t segment) {
    return HashToHex(patch.header.segments[segment].hash) + ".zst";
  }
  std::string Pack() const { return test::ReadFile(install_.dir() / "data/pack.bin"); }
  void SetPack(const std::string& bytes) const {
    fs::create_directories(install_.dir() / "data");
    test::WriteFile(install_.dir() / "data/pack.bin", bytes);
  }
  std::vector<std::string> Responses(const std::string& name) const {
    Requests(name);  // waits for the log line of a transfer still ending
    return servers_.ResponsesFor(Uri(name));
  }

  std::vector<std::string> versions_;
};

TEST_F(PatchUpdates, AChainOverThreeVersionsIsInstalledInOnePass) {
  Record(1, 1);
  SetPack(versions_[1]);
  for (std::size_t to : {2u, 3u, 4u}) {
    test::WriteFile(Pending("000010000000" + std::to_string(to) + ".zip"),
                    Archive(Patch(to - 1, to), "notes " + std::to_string(to)));
  }
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_TRUE(Pack() == versions_[4]);
  EXPECT_EQ(test::ReadFile(install_.dir() / "notes.txt"), "notes 4");
  EXPECT_EQ(Recorded(), "1/4");
  EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
  EXPECT_EQ(install_.WaitForClient(seconds(20)).size(), 1u);
}

// A byte of the player's pack differs from the one the patch was made from; or the player
// missed the version it was made from. Only the segments that their file cannot give are
// fetched, at the first start, which changes and records nothing; the next start installs.
TEST_F(PatchUpdates, AFileThatDiffersIsCompletedFromTheStoreAtTheNextStart) {
  const test::BuiltPatch patch = Patch(2, 3);
  PublishStore(patch, 3);
  std::string flipped = versions_[2];
  flipped[10] ^= 1;
  struct Case {
    const char* what;
    std::string pack;
    int recorded;
    std::size_t fetched;  // the segment fetched
  };
  std::size_t starts = 0;
  std::size_t requests = 0;  // of segments, in earlier cases
  for (const Case& c :
       {Case{"a byte that differs", flipped, 2, 0}, Case{"a missed version", versions_[1], 1, 1}}) {
    SCOPED_TRACE(c.what);
    Record(1, c.recorded);
    SetPack(c.pack);
    test::WriteFile(Pending("0000100000003.zip"), Archive(patch, "three"));
    EXPECT_EQ(RunLauncher(), 0);
    EXPECT_EQ(install_.WaitForClient(seconds(20), ++starts).size(), starts);
    EXPECT_TRUE(Pack() == c.pack);
    EXPECT_FALSE(fs::exists(install_.dir() / "notes.txt"));
    EXPECT_EQ(Recorded(), "1/" + std::to_string(c.recorded));
    EXPECT_TRUE(fs::exists(Pending("0000100000003.zip")));
    EXPECT_EQ(Responses("segments/" + FrameName(patch, c.fetched)).size(), 1u);
    std::size_t fetched = 0;
    for (std::size_t i = 0; i < patch.header.segments.size(); ++i) {
      fetched += servers_.ResponsesFor(Uri("segments/" + FrameName(patch, i))).size();
    }
    EXPECT_EQ(fetched - requests, 1u);
    requests = fetched;
    EXPECT_TRUE(fs::exists(Pending("Segments/" + FrameName(patch, c.fetched))));

    EXPECT_EQ(RunLauncher(), 0);
    EXPECT_EQ(install_.WaitForClient(seconds(20), ++starts).size(), starts);
    EXPECT_TRUE(Pack() == versions_[3]);
    EXPECT_EQ(test::ReadFile(install_.dir() / "notes.txt"), "three");
    EXPECT_EQ(Recorded(), "1/3");
    EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
    fs::remove(install_.dir() / "notes.txt");
    test::RemoveTree(servers_.docroot / folder_ / "updates/segments");
    PublishStore(patch, 3);
  }
}

// The store lacks one segment and holds wrong bytes for another: the archive stays pending,
// nothing is recorded, the client starts; the next start asks again, but the wrong bytes are
// not sent again while the store holds the same file.
TEST_F(PatchUpdates, AStoreWithoutTheSegmentLeavesTheArchivePendingWithoutFetchingAgain) {
  const test::BuiltPatch patch = Patch(2, 3);
  const std::string missing = FrameName(patch, 0);
  const std::string wrong = FrameName(patch, 3);
  PublishStore(patch, 3, {missing, wrong});
  PublishBytes("segments/" + wrong, test::Frame(NoiseBytes(kSegment, 6)));
  Record(1, 2);
  std::string pack = versions_[2];
  pack[10] ^= 1;
  pack[3 * kSegment + 10] ^= 1;
  SetPack(pack);
  test::WriteFile(Pending("0000100000003.zip"), Archive(patch, "three"));
  for (std::size_t start = 1; start <= 3; ++start) {
    EXPECT_EQ(RunLauncher(), 0);
    EXPECT_EQ(install_.WaitForClient(seconds(20), start).size(), start);
    EXPECT_TRUE(Pack() == pack);
    EXPECT_EQ(Recorded(), "1/2");
    EXPECT_TRUE(fs::exists(Pending("0000100000003.zip")));
  }
  const std::vector<std::string> lacking = Responses("segments/" + missing);
  ASSERT_EQ(lacking.size(), 3u);
  for (const std::string& answer : lacking) EXPECT_EQ(answer.substr(0, 4), "404 ");
  const std::vector<std::string> answers = Responses("segments/" + wrong);
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[0].substr(0, 4), "200 ");
  EXPECT_EQ(answers[1], "304 0");
  EXPECT_EQ(answers[2], "304 0");
}

class SignedPatchUpdates : public PatchUpdates {
 protected:
  SignedPatchUpdates() : PatchUpdates(true) {}
};

TEST_F(SignedPatchUpdates, ASignedPatchTamperedWithIsNeverInstalled) {
  Record(1, 2);
  SetPack(versions_[2]);
  const std::string genuine = test::Signed(Archive(Patch(2, 3), "three"), "0000100000003");
  std::string tampered = genuine;
  // A byte of the patch's last frame, its hashes left as they were.
  const std::string patch = Patch(2, 3).Bytes();
  tampered[tampered.find(patch) + patch.size() - 5] ^= 1;
  test::WriteFile(Pending("0000100000003.zip"), tampered);
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_TRUE(Pack() == versions_[2]);
  EXPECT_EQ(Recorded(), "1/2");
  EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip")) << "deleted, nothing fetched";

  test::WriteFile(Pending("0000100000003.zip"), genuine);
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_TRUE(Pack() == versions_[3]);
  EXPECT_EQ(Recorded(), "1/3");
}

}  // namespace
}  // namespace tarvo
