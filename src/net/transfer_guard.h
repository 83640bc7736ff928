#pragma once
// Giving up a transfer that takes too long or receives too little, whatever the server does and
// however long the platform's HTTP call blocks: the transfer runs on one thread, a watcher on
// another decides, and the transfer's end is claimed by exactly one of them.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/internet.h"

namespace tarvo {

// What a transfer must keep to. Zero durations switch a rule off.
struct TransferLimits {
  // The whole transfer ends within this time from the guard's making.
  std::chrono::milliseconds deadline{0};
  // Once the transfer is `window` old, at least `minimumBytes` arrive in every `window`. Time
  // the transfer spends held by its own side (Hold) does not count: a transfer paced by the
  // launcher is not a server that trickles.
  std::chrono::milliseconds window{0};
  std::uint64_t minimumBytes = 0;
};

// Shared by a transfer (the thread that makes the HTTP calls) and its watcher (a thread that
// waits for it). The guard owns the transfer's Internet session, so that the watcher can abort
// it from its own thread.
class TransferGuard {
 public:
  enum class Verdict {
    kFinished,  // the transfer claimed its end in time
    kGivenUp,   // the limits were broken first: the session is aborted
  };

  // Opens the session (`agent` and `context` as CInternetSession takes them); the limits count
  // from now. Throws CInternetException when no session can be opened.
  static std::shared_ptr<TransferGuard> Make(const TransferLimits& limits, const char16_t* agent,
                                             DWORD context);
  TransferGuard(const TransferGuard&) = delete;
  TransferGuard& operator=(const TransferGuard&) = delete;
  ~TransferGuard();

  // The transfer's session. Its own thread uses it; the watcher only aborts it.
  CInternetSession& session() { return *m_session; }

  // The transfer's side: counts bytes received (any thread).
  void Received(std::uint64_t bytes) { m_received += bytes; }
  // The transfer's side: waits until `until` without counting the time against the transfer's
  // rate, or less when it is given up meanwhile. False when it was given up.
  bool Hold(std::chrono::steady_clock::time_point until);
  // The transfer's last word: true when it ends in time, after which it is no longer given up;
  // false when it was given up already, after which it must leave everything as it found it.
  bool Finish();

  // The watcher's side: waits until the transfer finishes or breaks a limit, checking every
  // second (more often for short limits). Once a limit is broken the transfer is given up: its
  // session is aborted, and its later Finish returns false. Call it from one thread only.
  Verdict Watch();

 private:
  TransferGuard(const TransferLimits& limits, std::unique_ptr<CInternetSession> session);
  bool Broken(std::chrono::steady_clock::time_point now);
  // `now` less the time held so far: the clock that the rate rule counts by.
  std::chrono::steady_clock::time_point Unheld(std::chrono::steady_clock::time_point now) const;

  const TransferLimits m_limits;
  const std::chrono::steady_clock::time_point m_start;
  std::unique_ptr<CInternetSession> m_session;
  std::atomic<std::uint64_t> m_received{0};
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_finished = false;
  bool m_givenUp = false;
  std::chrono::steady_clock::duration m_held{0};
  std::optional<std::chrono::steady_clock::time_point> m_heldSince;
  // What had arrived at each check (in unheld time), back to the newest check at least a
  // window old.
  struct Sample {
    std::chrono::steady_clock::time_point time;
    std::uint64_t received;
  };
  std::deque<Sample> m_samples;
};

}  // namespace tarvo
