#pragma once
// Keeping the downloads of one launcher together under a rate, so that they leave the line to
// the game: before each read a transfer reserves its piece and is held until the rate has room
// for it. The flow stays smooth rather than bursty: pieces are a sixteenth of a second's worth
// at low rates, and what a slow stretch left unused is spent within a few hundredths of a
// second, never as a burst. Over any span of time the transfers together read at most the rate
// times the span, plus kCredit's worth and one piece.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "net/transfer_guard.h"

namespace tarvo {

class DownloadPacer {
 public:
  using Clock = std::chrono::steady_clock;

  // Time whose unused share of the rate a later read may still use: enough to absorb a late
  // wake-up, too little to make a burst.
  static constexpr Clock::duration kCredit = std::chrono::microseconds(31250);
  // Reads never ask for less.
  static constexpr std::uint32_t kMinPiece = 256;

  // `bytesPerSecond` 0: no limit.
  explicit DownloadPacer(std::uint64_t bytesPerSecond = 0) : m_rate(bytesPerSecond) {}

  // Sets the limit for the transfers from now on (0: none). Any thread.
  void SetRate(std::uint64_t bytesPerSecond);

  // The most a transfer reads at once, of `wanted`: a sixteenth of a second's worth at the
  // rate (at least kMinPiece), or `wanted` without a limit.
  std::uint32_t Piece(std::uint32_t wanted) const;

  // Reserves `bytes` for a transfer that asks at `now`, and returns when it may read them
  // (`now` or earlier: at once).
  Clock::time_point Reserve(std::uint64_t bytes, Clock::time_point now);

  // The most bytes the system should hold for a transfer paced by this: an eighth of a second's
  // worth (1 KiB to 256 KiB), so that the server sends no faster than the transfers read once
  // the first bytes have filled the buffers; 0 without a limit (the system's own).
  std::uint32_t ReceiveBuffer() const;

  // Gives back `bytes` of a reservation that the line did not bring: what is paced is what
  // arrives, so that a server sending less than a transfer's share is seen as slow, not held.
  void Return(std::uint64_t bytes);

 private:
  Clock::duration Duration(std::uint64_t bytes) const;

  mutable std::mutex m_mutex;
  std::uint64_t m_rate;
  // When everything reserved so far is due at the rate.
  Clock::time_point m_due{};
};

// For the download worker's read loop, with the launcher's pacer (or none): the size of its
// next read of at most `wanted` bytes, once the pacer has room for it. The wait is held by the
// transfer's guard, so that it does not count against the server. 0 when the guard gave the
// transfer up meanwhile.
std::uint32_t PaceRead(const std::shared_ptr<DownloadPacer>& pacer, TransferGuard& guard,
                       std::uint32_t wanted);
// After such a read: `bytes` of what PaceRead granted did not arrive.
void ReturnUnread(const std::shared_ptr<DownloadPacer>& pacer, std::uint32_t bytes);

}  // namespace tarvo
