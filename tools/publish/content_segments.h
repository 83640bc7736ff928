#pragma once
// Cutting a file into segments where its content says, not where its offsets do: a cut falls
// wherever the 64 bytes before it look a certain way, whatever came before, so bytes inserted
// or removed change the segment around them only, and the segments after them stay the same
// bytes with the same hashes (in the segment store, too).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "patch/segment_hash.h"

namespace tarvo::publish {

// The sizes of segments: none is shorter than kMinContentSegment (but the file's last one) or
// longer than the launcher's limit, and they are about 7 MiB on average. Where 16 MiB pass
// without a cut, one is made there.
inline constexpr std::uint32_t kMinContentSegment = 64u << 10;

struct ContentSegment {
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
  SegmentHash hash{};
  // What the 64 bytes before the segment's end look like (0 for a file's last segment, which
  // ends where the file does): equal for cuts in the same content, wherever it lies.
  std::uint64_t endKey = 0;
};

// The segments of the file at `path`, in order, with the hash of each. `progress` hears of the
// bytes as they are read. Throws std::runtime_error naming the file when it cannot be read.
std::vector<ContentSegment> CutIntoSegments(const std::filesystem::path& path,
                                            const std::function<void(std::uint64_t)>& progress);

// The same for bytes in memory.
std::vector<ContentSegment> CutIntoSegments(const std::uint8_t* data, std::size_t size);

}  // namespace tarvo::publish
