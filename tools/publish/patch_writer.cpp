#include "publish/patch_writer.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <algorithm>
#include <bit>
#include <fstream>
#include <future>
#include <map>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "common/utf.h"
#include "patch/apply_patch.h"
#include "publish/content_segments.h"

namespace tarvo::publish {

namespace fs = std::filesystem;

namespace {

// Levels of the frames: those made against a reference find their matches through zstd's
// long-distance matching, so a fast level loses little; self-contained ones go to the store.
constexpr int kPatchLevel = 3;
constexpr int kWholeLevel = 3;
// Room around the range a segment most likely came from, for what moved a little.
constexpr std::uint64_t kReferenceMargin = 256 << 10;

class FrameEncoder {
 public:
  FrameEncoder() : m_cctx(ZSTD_createCCtx()) {
    if (m_cctx == nullptr) throw std::bad_alloc();
  }
  FrameEncoder(const FrameEncoder&) = delete;
  FrameEncoder& operator=(const FrameEncoder&) = delete;
  ~FrameEncoder() { ZSTD_freeCCtx(m_cctx); }

  // A frame of `segment`, made against `reference` unless that is empty.
  std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> segment,
                                   std::span<const std::uint8_t> reference, int level) {
    ZSTD_CCtx_reset(m_cctx, ZSTD_reset_session_and_parameters);
    Set(ZSTD_c_compressionLevel, level);
    Set(ZSTD_c_contentSizeFlag, 1);
    Set(ZSTD_c_checksumFlag, 0);  // the patch holds the segment's hash
    Set(ZSTD_c_dictIDFlag, 0);
    if (!reference.empty()) {
      // A window that reaches from the segment's end back to the reference's start.
      const int needed = std::bit_width(reference.size() + segment.size() - 1);
      Set(ZSTD_c_windowLog, std::clamp(needed, ZSTD_WINDOWLOG_MIN, kMaxWindowLog));
      Set(ZSTD_c_enableLongDistanceMatching, 1);
      Check(ZSTD_CCtx_refPrefix(m_cctx, reference.data(), reference.size()));
    }
    std::vector<std::uint8_t> frame(ZSTD_compressBound(segment.size()));
    const std::size_t size =
        Check(ZSTD_compress2(m_cctx, frame.data(), frame.size(), segment.data(), segment.size()));
    frame.resize(size);
    ZSTD_frameHeader header{};
    if (ZSTD_getFrameHeader(&header, frame.data(), frame.size()) != 0 ||
        header.windowSize > (std::uint64_t{1} << kMaxWindowLog) || frame.size() > kMaxFrameSize) {
      throw std::runtime_error("zstd made a frame that launchers would not decode");
    }
    return frame;
  }

 private:
  void Set(ZSTD_cParameter parameter, int value) {
    Check(ZSTD_CCtx_setParameter(m_cctx, parameter, value));
  }
  static std::size_t Check(std::size_t result) {
    if (ZSTD_isError(result)) {
      throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(result));
    }
    return result;
  }

  ZSTD_CCtx* m_cctx;
};

// Reads `size` bytes from `offset` of an open file.
void ReadRange(std::ifstream& in, const fs::path& path, std::uint64_t offset,
               std::span<std::uint8_t> out) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  if (static_cast<std::size_t>(in.gcount()) != out.size()) {
    throw std::runtime_error("cannot read " + path.string());
  }
}

// Where the segments of the previous file are, for finding where a new one came from.
class PreviousFile {
 public:
  explicit PreviousFile(const std::vector<ContentSegment>& segments) {
    for (const ContentSegment& segment : segments) {
      m_byHash.emplace(segment.hash, segment.offset);
      if (segment.endKey != 0) m_cuts.emplace(segment.endKey, segment.offset + segment.length);
      m_size = segment.offset + segment.length;
    }
  }
  std::uint64_t size() const { return m_size; }

  // Where the previous file holds these bytes whole.
  std::optional<std::uint64_t> Copy(const SegmentHash& hash) const {
    const auto found = m_byHash.find(hash);
    if (found == m_byHash.end()) return std::nullopt;
    return found->second;
  }
  // Where the previous file has a cut after the same bytes as a cut with `key`.
  std::optional<std::uint64_t> Cut(std::uint64_t key) const {
    const auto found = m_cuts.find(key);
    if (key == 0 || found == m_cuts.end()) return std::nullopt;
    return found->second;
  }

 private:
  std::map<SegmentHash, std::uint64_t> m_byHash;
  std::unordered_map<std::uint64_t, std::uint64_t> m_cuts;  // the first cut of each key
  std::uint64_t m_size = 0;
};

struct Range {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// The range of the previous file that new segment `index` most likely came from: between the
// cuts of the same content as its own start and end, or as long as it is from the one of them
// found, or where the last cut found puts it; with a margin, within the file and the launcher's
// limit.
class ReferenceFinder {
 public:
  ReferenceFinder(const PreviousFile& previous, const std::vector<ContentSegment>& next)
      : m_previous(previous), m_next(next) {}

  Range Find(std::size_t index) {
    const ContentSegment& segment = m_next[index];
    const std::uint64_t end = segment.offset + segment.length;
    std::optional<std::uint64_t> from =
        index == 0 ? std::optional<std::uint64_t>(0) : m_previous.Cut(m_next[index - 1].endKey);
    std::optional<std::uint64_t> to = index + 1 == m_next.size()
                                          ? std::optional<std::uint64_t>(m_previous.size())
                                          : m_previous.Cut(segment.endKey);
    if (from)
      m_shift = static_cast<std::int64_t>(*from) - static_cast<std::int64_t>(segment.offset);
    if (to) m_shift = static_cast<std::int64_t>(*to) - static_cast<std::int64_t>(end);
    if (from && to && *to <= *from) to.reset();
    const auto shifted = [this](std::uint64_t at) {
      const std::int64_t moved = static_cast<std::int64_t>(at) + m_shift;
      return static_cast<std::uint64_t>(std::max<std::int64_t>(moved, 0));
    };
    const std::uint64_t start = from ? *from
                                : to ? *to - std::min<std::uint64_t>(*to, segment.length)
                                     : shifted(segment.offset);
    const std::uint64_t stop = to ? *to : start + segment.length;
    const std::uint64_t size = m_previous.size();
    Range range;
    range.offset = std::min(size, start - std::min(start, kReferenceMargin));
    const std::uint64_t last = std::min(size, stop + kReferenceMargin);
    range.length = std::min<std::uint64_t>(last - std::min(last, range.offset), kMaxReferenceSize);
    return range;
  }

 private:
  const PreviousFile& m_previous;
  const std::vector<ContentSegment>& m_next;
  std::int64_t m_shift = 0;  // previous offset less new offset, at the last cut found
};

void Put(std::ofstream& out, const std::vector<std::uint8_t>& bytes) {
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

class FileSource final : public PatchSource {
 public:
  explicit FileSource(const fs::path& path) : m_in(path, std::ios::binary) {}
  bool Read(void* buffer, std::size_t size) override {
    m_in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(m_in.gcount()) == size;
  }

 private:
  std::ifstream m_in;
};

// Compares what it is given with a file, in order.
class ComparingSink final : public PatchSink {
 public:
  ComparingSink(const fs::path& path, const std::function<void(std::uint64_t)>& progress)
      : m_in(path, std::ios::binary), m_progress(progress) {}
  bool Write(const void* data, std::size_t size) override {
    m_buffer.resize(size);
    m_in.read(reinterpret_cast<char*>(m_buffer.data()), static_cast<std::streamsize>(size));
    m_same = m_same && static_cast<std::size_t>(m_in.gcount()) == size &&
             std::equal(m_buffer.begin(), m_buffer.end(), static_cast<const std::uint8_t*>(data));
    m_progress(size);
    return true;
  }
  // True when everything given was the file, and the file has nothing more.
  bool Same() { return m_same && m_in.peek() == std::char_traits<char>::eof(); }

 private:
  std::ifstream m_in;
  const std::function<void(std::uint64_t)>& m_progress;
  std::vector<std::uint8_t> m_buffer;
  bool m_same = true;
};

// The publisher's check has no segments fetched: the previous file must give everything.
class NoSegments final : public SegmentCache {
 public:
  bool Find(const SegmentHash&, std::vector<std::uint8_t>&) override { return false; }
  void Discard(const SegmentHash&) override {}
};

}  // namespace

WrittenPatch WritePatch(const fs::path& previous, const fs::path& next, const std::string& storeUrl,
                        SegmentStore& store, const fs::path& patchPath,
                        const std::function<void(std::uint64_t)>& progress) {
  // Both files are cut at once, the previous one on a thread of its own.
  auto previousCut = std::async(
      std::launch::async, [&previous] { return CutIntoSegments(previous, [](std::uint64_t) {}); });
  const std::vector<ContentSegment> segments = CutIntoSegments(next, [](std::uint64_t) {});
  const PreviousFile old(previousCut.get());

  std::ifstream oldIn(previous, std::ios::binary);
  std::ifstream newIn(next, std::ios::binary);
  std::ofstream out(patchPath, std::ios::binary | std::ios::trunc);
  if (!oldIn || !newIn || !out) throw std::runtime_error("cannot open " + patchPath.string());

  PatchHeader header;
  header.baseSize = old.size();
  header.storeUrl = storeUrl;
  header.segments.resize(segments.size());
  std::uint64_t size = 0;
  for (const ContentSegment& segment : segments) size += segment.length;
  header.size = size;
  // The frames follow the header, whose size is known before they are.
  out.seekp(static_cast<std::streamoff>(kPatchHeadSize + storeUrl.size() +
                                        segments.size() * kSegmentRecordSize));

  WrittenPatch written;
  const std::uint64_t stagedBefore = store.stagedBytes();
  FrameEncoder encoder;
  ReferenceFinder finder(old, segments);
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t> reference;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const ContentSegment& segment = segments[i];
    PatchSegment& record = header.segments[i];
    record.length = segment.length;
    record.hash = segment.hash;
    const std::optional<std::uint64_t> copy = old.Copy(segment.hash);
    const bool stored = store.Has(segment.hash);
    if (!copy || !stored) {
      bytes.resize(segment.length);
      ReadRange(newIn, next, segment.offset, bytes);
    }
    std::vector<std::uint8_t> whole;
    if (!copy || !stored) whole = encoder.Encode(bytes, {}, kWholeLevel);
    if (!stored) store.Stage(segment.hash, whole);
    if (copy) {
      record.kind = SegmentKind::kCopy;
      record.baseOffset = *copy;
      record.baseLength = segment.length;
      ++written.copies;
    } else {
      std::vector<std::uint8_t> frame;
      const Range range = finder.Find(i);
      if (range.length != 0) {
        reference.resize(range.length);
        ReadRange(oldIn, previous, range.offset, reference);
        frame = encoder.Encode(bytes, reference, kPatchLevel);
      }
      // Worth its reference only when it saves more than a little of the segment.
      if (!frame.empty() && frame.size() + segment.length / 64 < whole.size()) {
        record.kind = SegmentKind::kPatch;
        record.baseOffset = range.offset;
        record.baseLength = static_cast<std::uint32_t>(range.length);
        record.baseHash = HashBytes(reference.data(), reference.size());
        ++written.patches;
      } else {
        frame = std::move(whole);
        record.kind = SegmentKind::kWhole;
        ++written.wholes;
      }
      record.frameLength = static_cast<std::uint32_t>(frame.size());
      record.frameHash = HashBytes(frame.data(), frame.size());
      Put(out, frame);
    }
    progress(segment.length);
  }
  header.fileHash = FileHash(header.size, header.segments);
  written.size = static_cast<std::uint64_t>(out.tellp());
  const std::string head = FormatPatchHeader(header);
  out.seekp(0);
  out.write(head.data(), static_cast<std::streamsize>(head.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + patchPath.string());
  written.stored = store.stagedBytes() - stagedBefore;
  return written;
}

void VerifyPatch(const fs::path& patchPath, const fs::path& previous, const fs::path& next,
                 const std::function<void(std::uint64_t)>& progress) {
  FileSource source(patchPath);
  ComparingSink sink(next, progress);
  NoSegments none;
  const PatchOutcome outcome =
      ApplyPatch(source, Utf8ToUtf16(previous.string()).c_str(), none, &sink);
  if (outcome.result != PatchOutcome::Result::kApplied || !sink.Same()) {
    throw std::runtime_error("the patch for " + next.string() + " does not make it from " +
                             previous.string() + "; nothing was published");
  }
}

}  // namespace tarvo::publish
