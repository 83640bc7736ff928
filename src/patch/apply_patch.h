#pragma once
// Rebuilding a file from a patch (patch_format.h) and the file it was made from, segment by
// segment in the order of the new file, each checked against its hash before it is used.

#include <cstdint>
#include <string>
#include <vector>

#include "patch/patch_format.h"
#include "platform/types.h"

namespace tarvo {

// Where the rebuilt file goes, in order.
class PatchSink {
 public:
  virtual ~PatchSink() = default;
  // Appends `size` bytes; false, with GetLastError telling why, when they could not be written.
  virtual bool Write(const void* data, std::size_t size) = 0;
};

// The segments fetched from the store earlier, for those that the base cannot give.
class SegmentCache {
 public:
  virtual ~SegmentCache() = default;
  // Fills `frame` with the frame kept for the segment with `hash` (unchecked) and returns true,
  // or returns false when none is kept or it is larger than kMaxFrameSize.
  virtual bool Find(const SegmentHash& hash, std::vector<std::uint8_t>& frame) = 0;
  // The frame found for `hash` does not make its segment: it is not to be offered again.
  virtual void Discard(const SegmentHash& hash) = 0;
};

// A segment to fetch from the store.
struct NeededSegment {
  SegmentHash hash{};
  std::uint32_t length = 0;
  bool operator==(const NeededSegment&) const = default;
};

struct PatchOutcome {
  enum class Result {
    // Every segment was made and checked (and written, with a sink), and the patch ended there.
    kApplied,
    // The base is the file the patch makes already (a patch applied before, by an
    // installation of its archive that did not finish): nothing was written.
    kAlreadyApplied,
    // Some segments can be made neither from the base nor from the cache: `missing` names them,
    // each once, for the store at `storeUrl`. What was written is not to be used.
    kAwaitingSegments,
    // The patch breaks its own rules or does not hold together (a frame that is not what its
    // hash says, one that does not decode into its segment): it is damaged or hostile.
    kDamaged,
    // The base could not be read or the rebuilt file not written; `error` tells why.
    kMachineFailed,
  };
  Result result = Result::kDamaged;
  DWORD error = 0;
  std::string storeUrl;
  std::vector<NeededSegment> missing;
};

// Reads the patch from `patch` and rebuilds its file from the base at `basePath` (which may be
// missing) and `cache`, writing it to `sink` in order. With no sink, nothing is decoded or
// written: the segments are only looked for, to learn which are missing. Memory stays within a
// few buffers of kMaxReferenceSize, kMaxSegmentSize and kMaxFrameSize bytes. Never throws but
// std::bad_alloc.
PatchOutcome ApplyPatch(PatchSource& patch, const char16_t* basePath, SegmentCache& cache,
                        PatchSink* sink);

}  // namespace tarvo
