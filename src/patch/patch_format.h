#pragma once
// A patch: what rebuilds one file of the installation from the file there (its base), so that
// an update carries what changed rather than the whole file.
//
// The new file is cut into segments of at most kMaxSegmentSize bytes, each made in one of three
// ways: a copy of a range of the base; a zstd frame decoded with a range of the base as its
// reference (its prefix); or a self-contained zstd frame. Every base range carries the hash of
// its bytes, every frame the hash of its own bytes, and every segment the hash of what it
// makes, all checked before use. A segment that the base cannot give (the player's file differs
// from the one the patch was made from) is fetched instead from the segment store named in the
// patch, where it is a self-contained frame named "<HashToHex(segment hash)>.zst".
//
// Layout, numbers little-endian:
//   8   kPatchMagic
//   8   the size of the base the patch was made from
//   8   the size of the file it makes
//   4   the number of segments: 0 for an empty file, else 1 to kMaxSegments
//   32  the file's hash: FileHash of its size and segments
//   2   the length of the store's URL (1 to kMaxStoreUrlLength), then the URL: printable
//       ASCII, beginning with "http://" or "https://" and ending in "/"
//   the segment records, kSegmentRecordSize bytes each, in the order of the file:
//     1   kind (SegmentKind), then 3 zero bytes
//     4   the segment's length, 1 to kMaxSegmentSize
//     8   the offset of its base range (copy, patch; else 0)
//     4   the length of its base range (copy: the segment's length; patch: 1 to
//         kMaxReferenceSize; else 0); the range lies within the base's size
//     4   the length of its frame (patch, whole: 1 to kMaxFrameSize; copy: 0)
//     32  the hash of the segment's bytes (for a copy also the hash of its base range)
//     32  the hash of its base range (patch; else zero)
//     32  the hash of its frame (patch, whole; else zero)
//   the frames of the patch and whole segments, in the order of their records, and nothing
//   after them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/segment_hash.h"

namespace tarvo {

inline constexpr std::string_view kPatchMagic = "TVPATCH1";
// The largest segment, base range of a patch segment, frame and store URL a patch may have: a
// 32-bit launcher rebuilds a segment with a few buffers of these sizes, well within its memory.
inline constexpr std::uint32_t kMaxSegmentSize = 16u << 20;
inline constexpr std::uint32_t kMaxReferenceSize = 48u << 20;
inline constexpr std::uint32_t kMaxFrameSize = kMaxSegmentSize + (1u << 20);
inline constexpr std::uint32_t kMaxSegments = 1u << 16;
inline constexpr std::size_t kMaxStoreUrlLength = 2048;
// The largest window a frame may ask of its decoder: a reference and its segment together.
inline constexpr int kMaxWindowLog = 26;
static_assert(kMaxReferenceSize + kMaxSegmentSize <= (1u << kMaxWindowLog));

inline constexpr std::size_t kPatchHeadSize = 8 + 8 + 8 + 4 + 32 + 2;
inline constexpr std::size_t kSegmentRecordSize = 120;

enum class SegmentKind : std::uint8_t { kCopy = 1, kPatch = 2, kWhole = 3 };

struct PatchSegment {
  SegmentKind kind = SegmentKind::kWhole;
  std::uint32_t length = 0;
  std::uint64_t baseOffset = 0;
  std::uint32_t baseLength = 0;
  std::uint32_t frameLength = 0;
  SegmentHash hash{};
  SegmentHash baseHash{};
  SegmentHash frameHash{};
};

// Everything of a patch before its frames.
struct PatchHeader {
  std::uint64_t baseSize = 0;
  std::uint64_t size = 0;
  SegmentHash fileHash{};
  std::string storeUrl;
  std::vector<PatchSegment> segments;
};

// The hash of a whole file from its segments: of "TARVO-FILE-1\n", its size (8 bytes) and, for
// each segment in order, its length (4 bytes) and its hash. It stands for the file's bytes as a
// hash of them all would, and costs nothing beyond the segments' own hashes.
SegmentHash FileHash(std::uint64_t size, const std::vector<PatchSegment>& segments);

// True when `url` may name a segment store (see the layout above).
bool IsStoreUrl(std::string_view url);

// The bytes of a patch, in order from its first.
class PatchSource {
 public:
  virtual ~PatchSource() = default;
  // Fills `buffer` with the next `size` bytes; false when they cannot all be had.
  virtual bool Read(void* buffer, std::size_t size) = 0;
};

// Reads a patch's header from its first bytes. Nothing when they cannot be read or break any
// rule of the layout (segments that do not add up to the file, a range beyond the base, a file
// hash that does not match, ...): such a patch is damaged, or hostile.
std::optional<PatchHeader> ReadPatchHeader(PatchSource& source);

// The bytes of `header` as a patch begins with them.
std::string FormatPatchHeader(const PatchHeader& header);

}  // namespace tarvo
