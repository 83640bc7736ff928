#include "net/transfer_activity.h"

namespace tarvo {

TransferActivity::TransferActivity(std::chrono::milliseconds limit, std::function<void()> stalled)
    : m_limit(limit), m_stalled(std::move(stalled)) {}

TransferActivity::~TransferActivity() {
  {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void TransferActivity::Started() {
  if (m_running++ == 0) m_last = Now();
  const std::lock_guard<std::mutex> lock(m_mutex);
  if (m_thread.joinable() || m_stopping) return;
  try {
    m_thread = std::thread([this] { Watch(); });
  } catch (...) {
    // Without a watch each transfer is still held to its own limits.
  }
}

void TransferActivity::Ended() { --m_running; }

void TransferActivity::Watch() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    const Clock::time_point now = Clock::now();
    const Clock::time_point due = Clock::time_point(Clock::duration(m_last.load())) + m_limit;
    const bool running = m_running > 0;
    if (running && now >= due) break;
    // While none runs, a look every second: the next to start counts afresh.
    m_wake.wait_until(lock, running ? due : now + std::chrono::seconds(1),
                      [this] { return m_stopping; });
    if (m_stopping) return;
  }
  lock.unlock();
  m_stalled();
}

}  // namespace tarvo
