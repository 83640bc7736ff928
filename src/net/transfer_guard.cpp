#include "net/transfer_guard.h"

#include <algorithm>

namespace tarvo {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

std::shared_ptr<TransferGuard> TransferGuard::Make(const TransferLimits& limits,
                                                   const char16_t* agent, DWORD context) {
  auto session = std::make_unique<CInternetSession>(agent, context);
  return std::shared_ptr<TransferGuard>(new TransferGuard(limits, std::move(session)));
}

TransferGuard::TransferGuard(const TransferLimits& limits,
                             std::unique_ptr<CInternetSession> session)
    : m_limits(limits), m_start(Clock::now()), m_session(std::move(session)) {
  m_samples.push_back({m_start, 0});
}

TransferGuard::~TransferGuard() = default;

bool TransferGuard::Finish() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_givenUp) return false;
    m_finished = true;
  }
  m_changed.notify_all();
  return true;
}

bool TransferGuard::Hold(Clock::time_point until) {
  std::unique_lock<std::mutex> lock(m_mutex);
  const Clock::time_point since = Clock::now();
  m_heldSince = since;
  m_changed.wait_until(lock, until, [this] { return m_givenUp; });
  m_held += Clock::now() - since;
  m_heldSince.reset();
  return !m_givenUp;
}

Clock::time_point TransferGuard::Unheld(Clock::time_point now) const {
  return now - m_held - (m_heldSince ? now - *m_heldSince : Clock::duration(0));
}

bool TransferGuard::Broken(Clock::time_point wallClock) {
  if (m_limits.deadline.count() > 0 && wallClock - m_start >= m_limits.deadline) return true;
  if (m_limits.window.count() <= 0) return false;
  const Clock::time_point now = Unheld(wallClock);
  const std::uint64_t received = m_received;
  m_samples.push_back({now, received});
  // The reference is the newest sample that is at least a window old.
  while (m_samples.size() > 1 && now - m_samples[1].time >= m_limits.window) m_samples.pop_front();
  const Sample& reference = m_samples.front();
  return now - reference.time >= m_limits.window &&
         received - reference.received < m_limits.minimumBytes;
}

TransferGuard::Verdict TransferGuard::Watch() {
  std::chrono::milliseconds tick{1000};
  for (const auto limit : {m_limits.deadline, m_limits.window}) {
    if (limit.count() > 0)
      tick = std::min(tick, std::max(limit / 10, std::chrono::milliseconds(10)));
  }
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    Clock::time_point wake = Clock::now() + tick;
    if (m_limits.deadline.count() > 0) wake = std::min(wake, m_start + m_limits.deadline);
    if (m_changed.wait_until(lock, wake, [this] { return m_finished; })) return Verdict::kFinished;
    if (Broken(Clock::now())) break;
  }
  m_givenUp = true;
  lock.unlock();
  m_changed.notify_all();
  m_session->Abort();
  return Verdict::kGivenUp;
}

}  // namespace tarvo
