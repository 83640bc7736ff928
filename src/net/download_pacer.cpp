#include "net/download_pacer.h"

#include <algorithm>

namespace tarvo {

void DownloadPacer::SetRate(std::uint64_t bytesPerSecond) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_rate = bytesPerSecond;
}

std::uint32_t DownloadPacer::Piece(std::uint32_t wanted) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_rate == 0) return wanted;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(wanted, std::max<std::uint64_t>(m_rate / 16, kMinPiece)));
}

DownloadPacer::Clock::duration DownloadPacer::Duration(std::uint64_t bytes) const {
  // Bytes times a billion stays far within 64 bits for any read.
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::nanoseconds(bytes * 1000000000u / m_rate));
}

DownloadPacer::Clock::time_point DownloadPacer::Reserve(std::uint64_t bytes,
                                                        Clock::time_point now) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_rate == 0) return now;
  const Clock::time_point start = std::max(m_due, now - kCredit);
  m_due = start + Duration(bytes);
  return start;
}

std::uint32_t DownloadPacer::ReceiveBuffer() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_rate == 0) return 0;
  return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(m_rate / 8, 1024, 256 * 1024));
}

void DownloadPacer::Return(std::uint64_t bytes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_rate == 0 || bytes == 0) return;
  // Later reservations start from where the time not used would have ended; Reserve never
  // lets them start before the credit's span anyway.
  m_due -= Duration(bytes);
}

std::uint32_t PaceRead(const std::shared_ptr<DownloadPacer>& pacer, TransferGuard& guard,
                       std::uint32_t wanted) {
  if (!pacer) return wanted;
  const std::uint32_t piece = pacer->Piece(wanted);
  const auto now = DownloadPacer::Clock::now();
  const auto start = pacer->Reserve(piece, now);
  return start <= now || guard.Hold(start) ? piece : 0;
}

void ReturnUnread(const std::shared_ptr<DownloadPacer>& pacer, std::uint32_t bytes) {
  if (pacer) pacer->Return(bytes);
}

}  // namespace tarvo
