// Patches as the launcher applies them: a file rebuilt from the installed one, every piece
// checked before use, what the base cannot give asked of the store, hostile patches refused.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "common/utf.h"
#include "install/extract_archive.h"
#include "install/pending_archives.h"
#include "patch/apply_patch.h"
#include "patch/fetched_segments.h"
#include "platform/disk_flush.h"
#include "support/patch_builder.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using Result = PatchOutcome::Result;
using test::NoiseBytes;

constexpr std::uint32_t kK = 1024;

class MemorySink final : public PatchSink {
 public:
  bool Write(const void* data, std::size_t size) override {
    if (full) return false;
    written.append(static_cast<const char*>(data), size);
    return true;
  }
  std::string written;
  bool full = false;  // every write fails, as on a full disk
};

class MemoryCache final : public SegmentCache {
 public:
  bool Find(const SegmentHash& hash, std::vector<std::uint8_t>& frame) override {
    const auto found = frames.find(HashToHex(hash) + ".zst");
    if (found == frames.end()) return false;
    frame.assign(found->second.begin(), found->second.end());
    return true;
  }
  void Discard(const SegmentHash& hash) override { discarded.push_back(HashToHex(hash)); }
  std::map<std::string, std::string> frames;
  std::vector<std::string> discarded;
};

// A base, the file a patch makes of it, and the patch: a copy, a frame made against an edited
// range, a self-contained frame of new bytes, and a copy of bytes that moved.
struct Versions {
  std::string base = NoiseBytes(192 * kK, 1);
  std::string next;
  test::BuiltPatch patch;

  Versions() {
    std::string edited = base.substr(64 * kK, 64 * kK);
    edited.replace(1000, 300, NoiseBytes(300, 2));
    next = base.substr(0, 64 * kK) + edited + NoiseBytes(64 * kK, 3) + base.substr(160 * kK);
    patch = test::MakePatch(base, next,
                            {{SegmentKind::kCopy, 64 * kK, 0, 0},
                             {SegmentKind::kPatch, 64 * kK, 48 * kK, 96 * kK},
                             {SegmentKind::kWhole, 64 * kK, 0, 0},
                             {SegmentKind::kCopy, 32 * kK, 160 * kK, 0}});
  }
  NeededSegment Needed(std::size_t index) const {
    return {patch.header.segments[index].hash, patch.header.segments[index].length};
  }
};

PatchOutcome Apply(const std::string& patch, const fs::path& base, SegmentCache& cache,
                   MemorySink* sink) {
  test::PatchBytes source(patch);
  return ApplyPatch(source, test::CoreText(base).c_str(), cache, sink);
}

TEST(Patch, RebuildsTheFileFromTheBaseOrFromWhatWasFetched) {
  const Versions v;
  test::TempDir dir;
  const fs::path base = dir.path() / "pack.bin";
  test::WriteFile(base, v.base);
  MemoryCache cache;

  MemorySink sink;
  EXPECT_EQ(Apply(v.patch.Bytes(), base, cache, &sink).result, Result::kApplied);
  EXPECT_TRUE(sink.written == v.next);
  EXPECT_LT(v.patch.Bytes().size(), 80 * kK) << "the copies and the edit cost little";
  EXPECT_EQ(Apply(v.patch.Bytes(), base, cache, nullptr).result, Result::kApplied)
      << "looked through alone";
  MemorySink full;
  full.full = true;
  const PatchOutcome failed = Apply(v.patch.Bytes(), base, cache, &full);
  EXPECT_EQ(failed.result, Result::kMachineFailed);
  EXPECT_NE(failed.error, 0u);

  // One byte differs where the patch frame's reference lies: that segment alone is missing.
  std::string changed = v.base;
  changed[100 * kK] ^= 1;
  test::WriteFile(base, changed);
  PatchOutcome outcome = Apply(v.patch.Bytes(), base, cache, &sink);
  EXPECT_EQ(outcome.result, Result::kAwaitingSegments);
  EXPECT_EQ(outcome.missing, std::vector<NeededSegment>{v.Needed(1)});
  EXPECT_EQ(outcome.storeUrl, test::kTestStoreUrl);

  // No base at all: every segment it was to give is missing; a wrong frame fetched for one of
  // them is not used, and is not offered again.
  fs::remove(base);
  EXPECT_EQ(Apply(v.patch.Bytes(), base, cache, nullptr).missing,
            (std::vector<NeededSegment>{v.Needed(0), v.Needed(1), v.Needed(3)}));
  cache.frames = test::StoreFrames(v.patch, v.next);
  const std::string wrong = HashToHex(v.Needed(3).hash) + ".zst";
  cache.frames[wrong] = test::Frame(NoiseBytes(32 * kK, 9));
  outcome = Apply(v.patch.Bytes(), base, cache, &sink);
  EXPECT_EQ(outcome.missing, std::vector<NeededSegment>{v.Needed(3)});
  EXPECT_EQ(cache.discarded, std::vector<std::string>{HashToHex(v.Needed(3).hash)});

  cache.frames = test::StoreFrames(v.patch, v.next);
  sink.written.clear();
  EXPECT_EQ(Apply(v.patch.Bytes(), base, cache, &sink).result, Result::kApplied);
  EXPECT_TRUE(sink.written == v.next);

  // Frames in a row, each one's reference read while the one before is decoded; and copies of
  // different lengths, two read here while a longer one is read ahead. Each patch makes its
  // file, and a base range that differs leaves its own segments alone missing.
  std::string edits = v.base;
  for (const std::uint32_t at : {10 * kK, 70 * kK, 130 * kK}) {
    edits.replace(at, 200, NoiseBytes(200, at));
  }
  const test::BuiltPatch row = test::MakePatch(v.base, edits,
                                               {{SegmentKind::kPatch, 64 * kK, 0, 64 * kK},
                                                {SegmentKind::kPatch, 64 * kK, 64 * kK, 64 * kK},
                                                {SegmentKind::kPatch, 64 * kK, 128 * kK, 64 * kK}});
  const std::uint32_t kMoves[][2] = {{4, 100}, {12, 0}, {16, 150}, {40, 20},
                                     {8, 180}, {8, 60}, {40, 120}, {64, 64}};  // KiB: length, at
  std::vector<test::PatchPiece> copies;
  std::string moved;
  for (const auto& [length, at] : kMoves) {
    copies.push_back({SegmentKind::kCopy, length * kK, at * kK, 0});
    moved += v.base.substr(at * kK, length * kK);
  }
  const test::BuiltPatch shuffled = test::MakePatch(v.base, moved, copies);
  MemoryCache none;
  for (const auto& [patch, made, missing] :
       {std::tuple{&row, &edits, std::vector<std::size_t>{1}}, {&shuffled, &moved, {0, 7}}}) {
    test::WriteFile(base, v.base);
    sink.written.clear();
    EXPECT_EQ(Apply(patch->Bytes(), base, none, &sink).result, Result::kApplied);
    EXPECT_TRUE(sink.written == *made);
    test::WriteFile(base, changed);
    std::vector<NeededSegment> needed;
    for (const std::size_t at : missing) {
      needed.push_back({patch->header.segments[at].hash, patch->header.segments[at].length});
    }
    EXPECT_EQ(Apply(patch->Bytes(), base, none, &sink).missing, needed);
  }

  // A segment decoded into other bytes than its hash says is found only as it is written, once
  // the next one turned out missing: the patch is damaged, and nothing is asked of the store.
  test::BuiltPatch hostile = row;
  hostile.frames[0] = test::Frame(NoiseBytes(64 * kK, 8), v.base.substr(0, 64 * kK));
  hostile.header.segments[0].frameLength = static_cast<std::uint32_t>(hostile.frames[0].size());
  hostile.header.segments[0].frameHash =
      HashBytes(hostile.frames[0].data(), hostile.frames[0].size());
  test::WriteFile(base, changed);  // segment 1's reference differs
  const PatchOutcome damaged = Apply(hostile.Bytes(), base, none, &sink);
  EXPECT_EQ(damaged.result, Result::kDamaged);
  EXPECT_TRUE(damaged.missing.empty());

  // The file the patch makes, there already (an installation of its archive that did not end).
  test::WriteFile(base, v.next);
  EXPECT_EQ(Apply(v.patch.Bytes(), base, none, &sink).result, Result::kAlreadyApplied);
}

// A zstd frame of `bytes` with a header written by hand: a window of 2^windowLog bytes, and the
// content size only when asked for.
std::string HandMadeFrame(const std::string& bytes, int windowLog, bool contentSize) {
  std::string frame = "\x28\xB5\x2F\xFD";
  frame += static_cast<char>(contentSize ? 0xC0 : 0x00);  // 8-byte size, or none
  frame += static_cast<char>((windowLog - 10) << 3);
  for (int i = 0; contentSize && i < 8; ++i) frame += static_cast<char>(bytes.size() >> (8 * i));
  const std::size_t block = bytes.size() << 3 | 1;  // the last block, raw
  for (int i = 0; i < 3; ++i) frame += static_cast<char>(block >> (8 * i));
  return frame + bytes;
}

// Whatever a patch says, it is read within its limits and refused whole when any rule is
// broken: nothing past the base, no size that overflows, no frame larger than its segment or
// asking for a larger window, no hash that does not match.
TEST(Patch, AHostilePatchIsRefusedAsDamaged) {
  const Versions v;
  test::TempDir dir;
  const fs::path base = dir.path() / "pack.bin";
  test::WriteFile(base, v.base);
  const std::string whole = v.next.substr(128 * kK, 64 * kK);
  // Sets a frame of the whole segment and its hash, as a hostile patch would.
  const auto frame = [](std::string bytes) {
    return [bytes](test::BuiltPatch& p) {
      p.frames[2] = bytes;
      p.header.segments[2].frameLength = static_cast<std::uint32_t>(bytes.size());
      p.header.segments[2].frameHash = HashBytes(bytes.data(), bytes.size());
    };
  };
  struct Case {
    const char* what;
    std::function<void(test::BuiltPatch&)> change;
    std::function<void(std::string&)> bytes = nullptr;
  };
  const Case cases[] = {
      {"a range past the base", [](auto& p) { p.header.segments[3].baseOffset = 170 * kK; }},
      {"an offset that overflows", [](auto& p) { p.header.segments[0].baseOffset = ~0ull - 9; }},
      {"a reference over the limit",
       [](auto& p) { p.header.segments[1].baseLength = kMaxReferenceSize + 1; }},
      {"a segment over the limit",
       [](auto& p) {
         p.header.segments[2].length = kMaxSegmentSize + 1;
         p.header.size += kMaxSegmentSize + 1 - 64 * kK;
       }},
      {"a frame over the limit",
       [](auto& p) { p.header.segments[2].frameLength = kMaxFrameSize + 1; }},
      {"segments longer than the file", [](auto& p) { p.header.size -= 1; }},
      {"a size that overflows", [](auto& p) { p.header.size = ~0ull; }},
      {"no segments for a file", [](auto& p) { p.header.segments.clear(); }},
      {"an unknown kind", [](auto& p) { p.header.segments[0].kind = SegmentKind{7}; }},
      {"a copy with a frame", [](auto& p) { p.header.segments[0].frameLength = 5; }},
      {"a store that is no web address", [](auto& p) { p.header.storeUrl = "file:///etc/"; }},
      {"a file hash that does not match", [](auto& p) { p.header.fileHash[0] ^= 1; }},
      {"a frame that is not its hash's", [](auto& p) { p.frames[2][40] ^= 1; }},
      {"a frame that makes more than its segment", frame(test::Frame(whole + "more"))},
      {"a frame that makes less", frame(test::Frame(whole.substr(1)))},
      {"a frame of other bytes", frame(test::Frame(NoiseBytes(64 * kK, 5)))},
      {"a frame that asks for a larger window",
       frame(HandMadeFrame(whole, kMaxWindowLog + 1, true))},
      {"a frame that does not say its size", frame(HandMadeFrame(whole, 17, false))},
      {"two frames in one", frame(test::Frame(whole) + test::Frame("x"))},
      {"a frame made against other bytes",
       [](auto& p) {
         const std::string other = test::Frame(NoiseBytes(64 * kK, 6), NoiseBytes(96 * kK, 7));
         p.frames[1] = other;
         p.header.segments[1].frameLength = static_cast<std::uint32_t>(other.size());
         p.header.segments[1].frameHash = HashBytes(other.data(), other.size());
       }},
      {"bytes after the last frame", [](auto&) {}, [](std::string& b) { b += "x"; }},
      {"a patch cut short", [](auto&) {}, [](std::string& b) { b.pop_back(); }},
      {"no patch at all", [](auto&) {}, [](std::string& b) { b.resize(20); }},
  };
  for (const Case& c : cases) {
    test::BuiltPatch patch = v.patch;
    c.change(patch);
    // The file hash follows the segments' lengths and hashes, so that its own check does not
    // stand in for the rule the case is about (unless it is that one).
    if (std::string_view(c.what) != "a file hash that does not match") {
      patch.header.fileHash = FileHash(patch.header.size, patch.header.segments);
    }
    std::string bytes = patch.Bytes();
    if (c.bytes) c.bytes(bytes);
    MemoryCache cache;
    MemorySink sink;
    EXPECT_EQ(Apply(bytes, base, cache, &sink).result, Result::kDamaged) << c.what;
    EXPECT_EQ(v.next.compare(0, sink.written.size(), sink.written), 0)
        << c.what << ": only checked segments are written";
  }
}

// Installs the archive at `archive` into `dir` as the launcher does, without flushing.
ArchiveInstall Install(const fs::path& archive, const fs::path& dir, FetchedSegments* fetched) {
  return ExtractArchiveToProgramDir(test::CoreText(archive), test::CoreText(dir) + u"\\",
                                    std::nullopt, NoDiskFlush(), fetched);
}

std::vector<std::string> FilesUnder(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file())
      names.push_back(entry.path().lexically_relative(dir).generic_string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// An archive with a patch takes its place whole, or waits for the segments its patch lacks
// without changing anything; they are fetched from the patch's store, checked before they are
// kept, and used at the next try.
TEST(PatchItems, AnArchiveWithAPatchIsInstalledWholeOrWaitsChangingNothing) {
  const Versions v;
  test::TempDir root;
  const fs::path dir = root.path() / "game";
  fs::create_directories(dir / "data");
  std::string changed = v.base;
  changed[10] ^= 1;  // where the first copy comes from
  test::WriteFile(dir / "data/pack.bin", changed);
  const fs::path archive = root.path() / "0000100000003.zip";
  test::WriteFile(archive, test::BuildZip({{"readme.txt", "new readme"},
                                           {"data/pack.bin.tvpatch", v.patch.Bytes(), 0}}));

  FetchedSegments fetched(test::CoreText(dir) + u"\\");
  EXPECT_EQ(Install(archive, dir, &fetched), ArchiveInstall::kAwaitingSegments);
  EXPECT_EQ(FilesUnder(dir), std::vector<std::string>{"data/pack.bin"}) << "nothing placed";
  EXPECT_TRUE(test::ReadFile(dir / "data/pack.bin") == changed);

  struct Started {
    std::u16string url, destination;
    BodyCheck check;
  };
  std::vector<Started> started;
  DownloadQueue queue(
      [&](const std::u16string& url, const std::u16string& destination, const BodyCheck& check) {
        started.push_back({url, destination, check});
      },
      4);
  ASSERT_EQ(fetched.Fetch(queue), 1u);
  ASSERT_EQ(started.size(), 1u);
  const std::string name = HashToHex(v.Needed(0).hash) + ".zst";
  EXPECT_EQ(Utf16ToUtf8(started[0].url), test::kTestStoreUrl + name);
  EXPECT_EQ(started[0].destination,
            test::CoreText(dir / "UpdateZip/Segments") + u"\\" + Utf8ToUtf16(name));
  ASSERT_TRUE(started[0].check.accept);
  EXPECT_EQ(started[0].check.maxLength, kMaxFrameSize) << "nothing longer is read";
  const fs::path body = root.path() / "body";
  test::WriteFile(body, test::Frame(NoiseBytes(64 * kK, 8)));
  EXPECT_FALSE(started[0].check.accept(test::CoreText(body))) << "not the segment its name says";
  test::WriteFile(body, test::StoreFrames(v.patch, v.next).at(name));
  EXPECT_TRUE(started[0].check.accept(test::CoreText(body)));

  // Stored where the download puts it, it makes the rest of the file.
  fs::rename(body, dir / "UpdateZip/Segments" / name);
  FetchedSegments again(test::CoreText(dir) + u"\\");
  EXPECT_EQ(Install(archive, dir, &again), ArchiveInstall::kDone);
  EXPECT_TRUE(test::ReadFile(dir / "data/pack.bin") == v.next);
  EXPECT_EQ(test::ReadFile(dir / "readme.txt"), "new readme");
  // Nothing pending any more: the fetched segments go, with their folder.
  again.Tidy(&FindFiles);
  EXPECT_FALSE(fs::exists(dir / "UpdateZip/Segments"));

  // Installed again (a start killed before it recorded the versions): nothing to do.
  EXPECT_EQ(Install(archive, dir, nullptr), ArchiveInstall::kDone);
  EXPECT_TRUE(test::ReadFile(dir / "data/pack.bin") == v.next);

  // A patch that makes no sense, its item whole, is what the archive holds: the file stays,
  // nothing is left beside it, and the archive counts as installed (fetching it again would
  // bring the same). A patch item whose bytes are damaged stops its archive.
  std::string damaged = v.patch.Bytes();
  damaged[damaged.size() - 10] ^= 1;
  test::WriteFile(dir / "data/pack.bin", v.base);
  test::WriteFile(archive, test::BuildZip({{"data/pack.bin.tvpatch", damaged, 0}}));
  EXPECT_EQ(Install(archive, dir, nullptr), ArchiveInstall::kDone);
  EXPECT_TRUE(test::ReadFile(dir / "data/pack.bin") == v.base);
  EXPECT_EQ(FilesUnder(dir), (std::vector<std::string>{"data/pack.bin", "readme.txt"}));
  test::WriteFile(
      archive,
      test::BuildZip(
          {{.name = "data/pack.bin.tvpatch", .data = v.patch.Bytes(), .method = 0, .crc = 1}}));
  EXPECT_EQ(Install(archive, dir, nullptr), ArchiveInstall::kDamaged);
  EXPECT_TRUE(test::ReadFile(dir / "data/pack.bin") == v.base);
}

}  // namespace
}  // namespace tarvo
