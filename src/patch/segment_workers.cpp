#include "patch/segment_workers.h"

#include <system_error>

namespace tarvo {

Made ReadBaseRange(BaseFile& base, const PatchSegment& segment, std::vector<std::uint8_t>& buffer,
                   DWORD& error) {
  const bool copy = segment.kind == SegmentKind::kCopy;
  const std::span<std::uint8_t> bytes =
      BufferOf(buffer, copy ? segment.length : segment.baseLength);
  const Made made = base.Read(segment.baseOffset, bytes, error);
  if (made == Made::kMade && !HashMatches(bytes, copy ? segment.hash : segment.baseHash)) {
    return Made::kUnavailable;
  }
  return made;
}

Worker::Worker() {
  try {
    m_thread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // Jobs run in turn, then.
  }
}

Worker::~Worker() {
  if (!m_thread.joinable()) return;
  {
    const std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void Worker::Hand(std::function<void()> job) {
  if (!m_thread.joinable()) return job();
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [this] { return !m_job; });
  m_job = std::move(job);
  m_changed.notify_all();
}

void Worker::Wait() {
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [this] { return !m_job; });
}

void Worker::Run() {
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

Made WriteBehind::Write(std::vector<std::uint8_t>& buffer, std::size_t size,
                        const SegmentHash* unchecked, DWORD& error) {
  if (const Made made = Finish(error); made != Made::kMade) return made;
  std::swap(buffer, m_pending);
  // The thread is idle since Finish: what it takes next may be set here.
  const bool check = unchecked != nullptr;
  if (check) m_hash = *unchecked;
  m_worker.Hand([this, size, check] {
    if (check && !HashMatches({m_pending.data(), size}, m_hash)) {
      m_made = Made::kDamaged;
      return;
    }
    try {
      if (m_sink.Write(m_pending.data(), size)) return;
      const DWORD error = GetLastError();
      m_error = error != 0 ? error : ERROR_WRITE_FAULT;
    } catch (const std::bad_alloc&) {
      m_error = ERROR_NOT_ENOUGH_MEMORY;
    }
    m_made = Made::kFailed;
  });
  return Made::kMade;
}

Made WriteBehind::Finish(DWORD& error) {
  m_worker.Wait();
  error = m_error;
  return m_made;
}

ReadAhead::ReadAhead(const char16_t* basePath) {
  DWORD ignored = 0;
  m_usable = m_base.Open(basePath, ignored) && m_base.present();
}

bool ReadAhead::Takes(const PatchSegment& segment) {
  return segment.kind == SegmentKind::kCopy ||
         (segment.kind == SegmentKind::kPatch && segment.baseLength <= kMaxSegmentSize);
}

void ReadAhead::Start(std::size_t index, const PatchSegment& segment) {
  m_index = index;
  m_worker.Hand([this, segment] {
    m_error = 0;
    try {
      m_made = ReadBaseRange(m_base, segment, m_bytes, m_error);
    } catch (const std::bad_alloc&) {
      m_made = Made::kFailed;
      m_error = ERROR_NOT_ENOUGH_MEMORY;
    }
  });
}

Made ReadAhead::Collect(std::vector<std::uint8_t>& out, DWORD& error) {
  m_worker.Wait();
  m_index = kNone;
  std::swap(out, m_bytes);
  error = m_error;
  return m_made;
}

}  // namespace tarvo
