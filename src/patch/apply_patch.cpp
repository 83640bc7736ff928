#include "patch/apply_patch.h"

#include <algorithm>
#include <optional>
#include <span>

#include "patch/base_file.h"
#include "patch/segment_frame.h"
#include "patch/segment_workers.h"

namespace tarvo {

namespace {

using Result = PatchOutcome::Result;

class Applier {
 public:
  Applier(PatchSource& patch, SegmentCache& cache) : m_patch(patch), m_cache(cache) {}

  PatchOutcome Run(const char16_t* basePath, PatchSink* sink) {
    PatchOutcome outcome;
    const std::optional<PatchHeader> header = ReadPatchHeader(m_patch);
    if (!header) return outcome;
    outcome.storeUrl = header->storeUrl;
    if (!m_base.Open(basePath, outcome.error)) return Failed(outcome, outcome.error);

    std::optional<WriteBehind> writer;
    if (sink != nullptr) writer.emplace(*sink);
    if (m_base.present()) {
      m_ahead.emplace(basePath);
      if (!m_ahead->usable()) m_ahead.reset();
    }
    const std::vector<PatchSegment>& segments = header->segments;
    std::uint64_t offset = 0;  // of the segment in the new file
    for (std::size_t i = 0; i < segments.size(); ++i) {
      const PatchSegment& segment = segments[i];
      DWORD error = 0;
      // What the thread ahead read and checked for this segment, if it did.
      std::optional<Made> ahead;
      if (m_ahead && m_ahead->Holds(i)) {
        ahead = m_ahead->Collect(BaseRangeBuffer(segment, true), error);
      }
      // The next segment's base range is read and checked beside this segment. A copy read
      // ahead leaves nothing to do here, so the next one is read here and a later one ahead.
      if (m_ahead && m_ahead->Idle()) {
        const std::size_t next =
            NextAhead(segments, ahead && segment.kind == SegmentKind::kCopy ? i + 1 : i);
        if (next < segments.size() && ReadAhead::Takes(segments[next])) {
          m_ahead->Start(next, segments[next]);
        }
      }
      const bool looking = sink == nullptr || !outcome.missing.empty();
      switch (Make(segment, ahead, !looking, error)) {
        case Made::kDamaged:
          return outcome;
        case Made::kFailed:
          return Failed(outcome, error);
        case Made::kUnavailable:
          if (outcome.missing.empty() && IsMadeAlready(*header, offset, segment)) {
            outcome.result = Result::kAlreadyApplied;
            return outcome;
          }
          if (const NeededSegment needed{segment.hash, segment.length};
              std::find(outcome.missing.begin(), outcome.missing.end(), needed) ==
              outcome.missing.end()) {
            outcome.missing.push_back(needed);
          }
          break;
        case Made::kMade:
          if (!looking) {
            const Made written = writer->Write(m_out, segment.length, m_unchecked, error);
            if (written != Made::kMade) return Ended(outcome, written, error);
          }
          break;
      }
      offset += segment.length;
    }
    DWORD error = 0;
    if (writer) {
      if (const Made written = writer->Finish(error); written != Made::kMade) {
        return Ended(outcome, written, error);
      }
    }
    // Nothing may follow the last frame.
    unsigned char extra = 0;
    if (m_patch.Read(&extra, 1)) return outcome;
    outcome.result = outcome.missing.empty() ? Result::kApplied : Result::kAwaitingSegments;
    return outcome;
  }

 private:
  // The outcome when writing ended in `written`: a damaged segment or a failed write.
  static PatchOutcome Ended(PatchOutcome& outcome, Made written, DWORD error) {
    if (written != Made::kDamaged) return Failed(outcome, error);
    outcome.missing.clear();
    return outcome;
  }

  // The segment to read ahead while this thread makes segments from `from` on. Segments differ
  // in length, so for copies it is the one that the copies before it, read and checked here,
  // come nearest to in length: both threads then take about as long.
  static std::size_t NextAhead(const std::vector<PatchSegment>& segments, std::size_t from) {
    const auto copy = [&segments](std::size_t at) {
      return at < segments.size() && segments[at].kind == SegmentKind::kCopy;
    };
    std::size_t next = from + 1;
    if (!copy(from)) return next;
    const auto gap = [](std::uint64_t a, std::uint64_t b) { return a > b ? a - b : b - a; };
    std::uint64_t here = segments[from].length;  // read here before `next`
    while (copy(next) && copy(next + 1) &&
           gap(here + segments[next].length, segments[next + 1].length) <
               gap(here, segments[next].length)) {
      here += segments[next++].length;
    }
    return next;
  }

  static PatchOutcome Failed(PatchOutcome& outcome, DWORD error) {
    outcome.result = Result::kMachineFailed;
    outcome.error = error;
    outcome.missing.clear();
    return outcome;
  }

  // Makes `segment` into m_out (`bytes` set), or only learns whether it can be made. `ahead`
  // is what became of its base range when it was read ahead (into BaseRangeBuffer). A segment
  // decoded from the base is left to be checked as it is written (m_unchecked), off this thread.
  Made Make(const PatchSegment& segment, std::optional<Made> ahead, bool bytes, DWORD& error) {
    m_unchecked = nullptr;
    std::span<std::uint8_t> frame;
    if (segment.kind != SegmentKind::kCopy) {
      // A frame reaches the decoder only once it is known to be the one the patch was made with.
      frame = BufferOf(m_frame, segment.frameLength);
      if (!m_patch.Read(frame.data(), frame.size()) || !HashMatches(frame, segment.frameHash)) {
        return Made::kDamaged;
      }
    }
    const std::span<std::uint8_t> out = BufferOf(m_out, segment.length);
    if (segment.kind == SegmentKind::kWhole) {
      if (!bytes) return Made::kMade;
      return m_decoder.Decode(frame, {}, out) && HashMatches(out, segment.hash) ? Made::kMade
                                                                                : Made::kDamaged;
    }
    std::vector<std::uint8_t>& range = BaseRangeBuffer(segment, ahead.has_value());
    const Made base = ahead ? *ahead : ReadBaseRange(m_base, segment, range, error);
    if (base == Made::kMade) {
      if (segment.kind == SegmentKind::kCopy || !bytes) return Made::kMade;
      // From a base that is the one it was made against, a frame that does not make its segment
      // is a damaged patch.
      if (!m_decoder.Decode(frame, BufferOf(range, segment.baseLength), out)) {
        return Made::kDamaged;
      }
      m_unchecked = &segment.hash;
      return Made::kMade;
    }
    if (base == Made::kFailed) return base;
    return FromCache(segment, out);
  }

  // Where a segment's base range is read: a copy's bytes into m_out, which it is made in; a
  // patch's reference into m_aheadReference when read ahead, else into m_reference.
  std::vector<std::uint8_t>& BaseRangeBuffer(const PatchSegment& segment, bool readAhead) {
    if (segment.kind == SegmentKind::kCopy) return m_out;
    return readAhead ? m_aheadReference : m_reference;
  }

  // The segment from the frame fetched for it, checked like any other.
  Made FromCache(const PatchSegment& segment, std::span<std::uint8_t> out) {
    if (!m_cache.Find(segment.hash, m_frame) || m_frame.size() > kMaxFrameSize) {
      return Made::kUnavailable;
    }
    if (m_decoder.Decode(m_frame, {}, out) && HashMatches(out, segment.hash)) return Made::kMade;
    m_cache.Discard(segment.hash);
    return Made::kUnavailable;
  }

  // True when the base is the new file already: checked first where the segment that could not
  // be made would lie in it, then everywhere.
  bool IsMadeAlready(const PatchHeader& header, std::uint64_t offset, const PatchSegment& missing) {
    if (!m_base.present() || m_base.size() != header.size) return false;
    const auto holds = [this](std::uint64_t at, const PatchSegment& segment) {
      DWORD ignored = 0;
      const std::span<std::uint8_t> bytes = BufferOf(m_out, segment.length);
      return m_base.Read(at, bytes, ignored) == Made::kMade && HashMatches(bytes, segment.hash);
    };
    if (!holds(offset, missing)) return false;
    std::uint64_t at = 0;
    for (const PatchSegment& segment : header.segments) {
      if (!holds(at, segment)) return false;
      at += segment.length;
    }
    return true;
  }

  PatchSource& m_patch;
  SegmentCache& m_cache;
  BaseFile m_base;
  SegmentDecoder m_decoder;
  std::vector<std::uint8_t> m_reference;
  // A reference read ahead. It trades places with the thread's buffer, as m_out does for
  // copies, so that no buffer of a larger reference goes round and each stays within a segment.
  std::vector<std::uint8_t> m_aheadReference;
  std::vector<std::uint8_t> m_frame;
  std::vector<std::uint8_t> m_out;
  std::optional<ReadAhead> m_ahead;
  const SegmentHash* m_unchecked = nullptr;  // the hash the segment just made must have
};

}  // namespace

PatchOutcome ApplyPatch(PatchSource& patch, const char16_t* basePath, SegmentCache& cache,
                        PatchSink* sink) {
  return Applier(patch, cache).Run(basePath, sink);
}

}  // namespace tarvo
