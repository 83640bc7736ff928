#include "patch/apply_patch.h"

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <system_error>
#include <thread>

#include "patch/segment_frame.h"
#include "platform/files.h"
#include "unzip/system_failure.h"

namespace tarvo {

namespace {

using Result = PatchOutcome::Result;

// What became of one segment.
enum class Made {
  kMade,         // its bytes are checked (or, when only looking, known to be at hand)
  kUnavailable,  // neither the base nor the cache gives it
  kDamaged,      // the patch is damaged or hostile
  kFailed,       // the base could not be read
};

// A buffer that grows to the largest size asked of it and is then reused.
std::span<std::uint8_t> Take(std::vector<std::uint8_t>& buffer, std::size_t size) {
  if (buffer.size() < size) buffer.resize(size);
  return {buffer.data(), size};
}

bool Matches(std::span<const std::uint8_t> bytes, const SegmentHash& hash) {
  return HashBytes(bytes.data(), bytes.size()) == hash;
}

// The file a patch was made from, as far as it is there: held so that nobody writes it
// meanwhile (Windows), read by ranges.
class Base {
 public:
  // Opens `path`; a missing file is a base without bytes. False when the machine keeps it from
  // being read (in use, no permission, an I/O error): `error` tells why.
  bool Open(const char16_t* path, DWORD& error) {
    if (!m_file.Open(path, CFile::modeRead | CFile::shareDenyWrite)) {
      error = GetLastError();
      return !IsSystemFailure(error);
    }
    try {
      m_size = m_file.GetLength();
    } catch (const CFileException& failure) {
      error = static_cast<DWORD>(failure.m_lOsError);
      return false;
    }
    return true;
  }
  bool present() const { return m_file.IsOpen(); }
  std::uint64_t size() const { return m_size; }

  // Reads `out.size()` bytes from `offset`. kUnavailable when the base does not hold them.
  Made Read(std::uint64_t offset, std::span<std::uint8_t> out, DWORD& error) {
    if (!present() || out.size() > m_size || offset > m_size - out.size()) {
      return Made::kUnavailable;
    }
    try {
      m_file.Seek(static_cast<std::int64_t>(offset), CFile::begin);
      for (std::size_t done = 0; done < out.size();) {
        const UINT got = m_file.Read(out.data() + done, static_cast<UINT>(out.size() - done));
        if (got == 0) return Made::kUnavailable;  // cut short since it was measured
        done += got;
      }
    } catch (const CFileException& failure) {
      error = failure.m_lOsError != 0 ? static_cast<DWORD>(failure.m_lOsError) : ERROR_READ_FAULT;
      return Made::kFailed;
    }
    return Made::kMade;
  }

 private:
  CFile m_file;
  std::uint64_t m_size = 0;
};

// A thread that runs one job at a time, each handed over once the one before has ended; where
// no thread can be had, each job runs where it is handed over. Jobs must not throw.
class Worker {
 public:
  Worker() {
    try {
      m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // Jobs run in turn, then.
    }
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker() {
    if (!m_thread.joinable()) return;
    {
      const std::lock_guard lock(m_mutex);
      m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
  }

  void Hand(std::function<void()> job) {
    if (!m_thread.joinable()) return job();
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_job; });
    m_job = std::move(job);
    m_changed.notify_all();
  }
  // Waits for the job handed over last to end.
  void Wait() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_job; });
  }

 private:
  void Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
      m_changed.wait(lock, [this] { return m_job || m_stop; });
      if (!m_job) return;
      lock.unlock();
      m_job();
      lock.lock();
      m_job = nullptr;
      m_changed.notify_all();
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::function<void()> m_job;
  bool m_stop = false;
  std::thread m_thread;
};

// Writes the segments once checked on a thread of its own, in order, while the next ones are
// read, hashed and decoded: on two cores the hashing costs no time beside the writing.
class WriteBehind {
 public:
  explicit WriteBehind(PatchSink& sink) : m_sink(sink) {}

  // Takes the first `size` bytes of `buffer` to write, and gives back in `buffer` one whose
  // write has ended. False, with `error` set, when a write failed.
  bool Write(std::vector<std::uint8_t>& buffer, std::size_t size, DWORD& error) {
    if (!Finish(error)) return false;
    std::swap(buffer, m_pending);
    m_worker.Hand([this, size] {
      try {
        if (m_sink.Write(m_pending.data(), size)) return;
        const DWORD error = GetLastError();
        m_error = error != 0 ? error : ERROR_WRITE_FAULT;
      } catch (const std::bad_alloc&) {
        m_error = ERROR_NOT_ENOUGH_MEMORY;
      }
    });
    return true;
  }
  // Waits for the last write. False, with `error` set, when a write failed.
  bool Finish(DWORD& error) {
    m_worker.Wait();
    error = m_error;
    return m_error == 0;
  }

 private:
  PatchSink& m_sink;
  std::vector<std::uint8_t> m_pending;
  DWORD m_error = 0;  // of the first write that failed
  Worker m_worker;
};

// Reads and checks the base range of a copy segment on a thread of its own while the segment
// before it is made, so that two segments are hashed at once on two cores.
class ReadAhead {
 public:
  static constexpr std::size_t kNone = ~std::size_t{0};

  // Reads the base at `basePath` through a handle of its own; usable() false when it cannot.
  explicit ReadAhead(const char16_t* basePath) {
    DWORD ignored = 0;
    m_usable = m_base.Open(basePath, ignored) && m_base.present();
  }

  bool usable() const { return m_usable; }
  // True when the segment at `index` was started and is not collected yet.
  bool Holds(std::size_t index) const { return m_index == index; }
  // Starts on copy segment `segment`, at `index` of the patch; none may be held.
  void Start(std::size_t index, const PatchSegment& segment) {
    m_index = index;
    m_worker.Hand([this, segment] {
      m_error = 0;
      try {
        const std::span<std::uint8_t> bytes = Take(m_bytes, segment.length);
        m_made = m_base.Read(segment.baseOffset, bytes, m_error);
        if (m_made == Made::kMade && !Matches(bytes, segment.hash)) m_made = Made::kUnavailable;
      } catch (const std::bad_alloc&) {
        m_made = Made::kFailed;
        m_error = ERROR_NOT_ENOUGH_MEMORY;
      }
    });
  }
  // Waits for the segment held and gives its bytes in `out`: kMade when they are the segment,
  // kUnavailable when they are not or the base does not hold them, kFailed (with `error`) when
  // they could not be read.
  Made Collect(std::vector<std::uint8_t>& out, DWORD& error) {
    m_worker.Wait();
    m_index = kNone;
    std::swap(out, m_bytes);
    error = m_error;
    return m_made;
  }

 private:
  Base m_base;
  bool m_usable = false;
  std::size_t m_index = kNone;
  std::vector<std::uint8_t> m_bytes;
  Made m_made = Made::kFailed;
  DWORD m_error = 0;
  Worker m_worker;
};

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
      // The next copy is read and checked beside this segment, unless this one was.
      if (m_ahead && !m_ahead->Holds(i) && i + 1 < segments.size() &&
          segments[i + 1].kind == SegmentKind::kCopy) {
        m_ahead->Start(i + 1, segments[i + 1]);
      }
      const bool looking = sink == nullptr || !outcome.missing.empty();
      DWORD error = 0;
      switch (Make(i, segment, !looking, error)) {
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
          if (!looking && !writer->Write(m_out, segment.length, error)) {
            return Failed(outcome, error);
          }
          break;
      }
      offset += segment.length;
    }
    DWORD error = 0;
    if (writer && !writer->Finish(error)) return Failed(outcome, error);
    // Nothing may follow the last frame.
    unsigned char extra = 0;
    if (m_patch.Read(&extra, 1)) return outcome;
    outcome.result = outcome.missing.empty() ? Result::kApplied : Result::kAwaitingSegments;
    return outcome;
  }

 private:
  static PatchOutcome Failed(PatchOutcome& outcome, DWORD error) {
    outcome.result = Result::kMachineFailed;
    outcome.error = error;
    outcome.missing.clear();
    return outcome;
  }

  // Makes segment `index` into m_out (`bytes` set), or only learns whether it can be made.
  Made Make(std::size_t index, const PatchSegment& segment, bool bytes, DWORD& error) {
    std::span<std::uint8_t> frame;
    if (segment.kind != SegmentKind::kCopy) {
      // A frame reaches the decoder only once it is known to be the one the patch was made with.
      frame = Take(m_frame, segment.frameLength);
      if (!m_patch.Read(frame.data(), frame.size()) || !Matches(frame, segment.frameHash)) {
        return Made::kDamaged;
      }
    }
    std::span<std::uint8_t> out = Take(m_out, segment.length);
    Made base = Made::kUnavailable;
    switch (segment.kind) {
      case SegmentKind::kWhole:
        if (!bytes) return Made::kMade;
        return m_decoder.Decode(frame, {}, out) && Matches(out, segment.hash) ? Made::kMade
                                                                              : Made::kDamaged;
      case SegmentKind::kCopy:
        if (m_ahead && m_ahead->Holds(index)) {
          base = m_ahead->Collect(m_out, error);
          if (base == Made::kMade) return Made::kMade;
          out = Take(m_out, segment.length);
        } else {
          base = m_base.Read(segment.baseOffset, out, error);
          if (base == Made::kMade && Matches(out, segment.hash)) return Made::kMade;
        }
        break;
      case SegmentKind::kPatch: {
        const std::span<std::uint8_t> reference = Take(m_reference, segment.baseLength);
        base = m_base.Read(segment.baseOffset, reference, error);
        if (base == Made::kMade && Matches(reference, segment.baseHash)) {
          if (!bytes) return Made::kMade;
          // From a base that is the one it was made against, a frame that does not make its
          // segment is a damaged patch.
          return m_decoder.Decode(frame, reference, out) && Matches(out, segment.hash)
                     ? Made::kMade
                     : Made::kDamaged;
        }
        break;
      }
    }
    if (base == Made::kFailed) return base;
    return FromCache(segment, out);
  }

  // The segment from the frame fetched for it, checked like any other.
  Made FromCache(const PatchSegment& segment, std::span<std::uint8_t> out) {
    if (!m_cache.Find(segment.hash, m_frame) || m_frame.size() > kMaxFrameSize) {
      return Made::kUnavailable;
    }
    if (m_decoder.Decode(m_frame, {}, out) && Matches(out, segment.hash)) return Made::kMade;
    m_cache.Discard(segment.hash);
    return Made::kUnavailable;
  }

  // True when the base is the new file already: checked first where the segment that could not
  // be made would lie in it, then everywhere.
  bool IsMadeAlready(const PatchHeader& header, std::uint64_t offset, const PatchSegment& missing) {
    if (!m_base.present() || m_base.size() != header.size) return false;
    const auto holds = [this](std::uint64_t at, const PatchSegment& segment) {
      DWORD ignored = 0;
      const std::span<std::uint8_t> bytes = Take(m_out, segment.length);
      return m_base.Read(at, bytes, ignored) == Made::kMade && Matches(bytes, segment.hash);
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
  Base m_base;
  SegmentDecoder m_decoder;
  std::vector<std::uint8_t> m_reference;
  std::vector<std::uint8_t> m_frame;
  std::vector<std::uint8_t> m_out;
  std::optional<ReadAhead> m_ahead;
};

}  // namespace

PatchOutcome ApplyPatch(PatchSource& patch, const char16_t* basePath, SegmentCache& cache,
                        PatchSink* sink) {
  return Applier(patch, cache).Run(basePath, sink);
}

}  // namespace tarvo
