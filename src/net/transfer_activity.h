#pragma once
// Whether any of a launcher's transfers still receives anything. Each transfer's guard gives up
// a transfer that receives too little, but one after another they could still keep the hidden
// launcher alive for hours (each stalled transfer costing the receive time-out): once no
// running transfer has received a byte for the limit, the launcher is told, once, and ends,
// the transfers keeping what they have.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tarvo {

inline constexpr std::chrono::milliseconds kStallLimit = std::chrono::seconds(60);

class TransferActivity {
 public:
  using Clock = std::chrono::steady_clock;

  // `stalled` runs once, on a thread of the watch's own, when transfers run and none has
  // received a byte for `limit` (counted from the later of the last byte and the moment the
  // first of them started). It must not throw.
  TransferActivity(std::chrono::milliseconds limit, std::function<void()> stalled);
  TransferActivity(const TransferActivity&) = delete;
  TransferActivity& operator=(const TransferActivity&) = delete;
  // Stops the watch, which then never calls `stalled`.
  ~TransferActivity();

  // A transfer starts and ends (any thread).
  void Started();
  void Ended();
  // A transfer received bytes from its server (any thread).
  void Received() { m_last = Now(); }

 private:
  static std::int64_t Now() { return Clock::now().time_since_epoch().count(); }
  void Watch();

  const std::chrono::milliseconds m_limit;
  const std::function<void()> m_stalled;
  std::atomic<std::int64_t> m_last{0};
  std::atomic<int> m_running{0};
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stopping = false;
  std::thread m_thread;  // started by the first transfer; last: it goes first
};

}  // namespace tarvo
