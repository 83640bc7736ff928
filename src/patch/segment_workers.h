#pragma once
// The threads beside a patch's application: segments written behind while the next ones are
// made, and the next copy segment read and checked ahead, so that on two cores hashing, reading
// and writing overlap. Where no thread can be had, the same work is done in turn.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "patch/apply_patch.h"
#include "patch/base_file.h"
#include "patch/segment_hash.h"

namespace tarvo {

// Reads the range of the base that `segment` is made from (a copy's bytes, a patch's reference)
// into the front of `buffer`, and checks it against its hash: kMade when it checks,
// kUnavailable when it does not or the base does not hold it, kFailed (with `error`) when it
// could not be read.
Made ReadBaseRange(BaseFile& base, const PatchSegment& segment, std::vector<std::uint8_t>& buffer,
                   DWORD& error);

// A thread that runs one job at a time, each handed over once the one before has ended; where
// no thread can be had, each job runs where it is handed over. Jobs must not throw.
class Worker {
 public:
  Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  // Lets the job at hand end, then ends the thread.
  ~Worker();

  void Hand(std::function<void()> job);
  // Waits for the job handed over last to end.
  void Wait();

 private:
  void Run();

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::function<void()> m_job;
  bool m_stop = false;
  std::thread m_thread;
};

// Writes the segments once checked, in order.
class WriteBehind {
 public:
  explicit WriteBehind(PatchSink& sink) : m_sink(sink) {}

  // Takes the first `size` bytes of `buffer` to write, once they hash to `unchecked` where that
  // is given, and gives back in `buffer` one whose write has ended. kMade; kDamaged when a
  // segment was not what its hash says (and was not written), kFailed with `error` set when a
  // write failed.
  Made Write(std::vector<std::uint8_t>& buffer, std::size_t size, const SegmentHash* unchecked,
             DWORD& error);
  // Waits for the last write, and tells what became of the writes as Write does.
  Made Finish(DWORD& error);

 private:
  PatchSink& m_sink;
  std::vector<std::uint8_t> m_pending;
  SegmentHash m_hash{};       // the one m_pending must have, when it is to be checked
  Made m_made = Made::kMade;  // kMade until a segment or a write fails
  DWORD m_error = 0;          // of the write that failed
  Worker m_worker;
};

// Reads and checks the base range of a copy or patch segment while the segment before it is
// made.
class ReadAhead {
 public:
  static constexpr std::size_t kNone = ~std::size_t{0};

  // Reads the base at `basePath` through a handle of its own; usable() false when it cannot.
  explicit ReadAhead(const char16_t* basePath);

  bool usable() const { return m_usable; }
  // True for a segment whose base range is read ahead: a copy, or a patch whose reference is no
  // larger than a segment.
  static bool Takes(const PatchSegment& segment);
  // True when the segment at `index` was started and is not collected yet.
  bool Holds(std::size_t index) const { return m_index == index; }
  bool Idle() const { return m_index == kNone; }
  // Starts on `segment`, one it takes, at `index` of the patch; none may be held.
  void Start(std::size_t index, const PatchSegment& segment);
  // Waits for the segment held and gives its base range in `out`: kMade when it checks,
  // kUnavailable when it does not or the base does not hold it, kFailed (with `error`) when it
  // could not be read.
  Made Collect(std::vector<std::uint8_t>& out, DWORD& error);

 private:
  BaseFile m_base;
  bool m_usable = false;
  std::size_t m_index = kNone;
  std::vector<std::uint8_t> m_bytes;
  Made m_made = Made::kFailed;
  DWORD m_error = 0;
  Worker m_worker;
};

}  // namespace tarvo
