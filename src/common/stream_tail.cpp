#include "common/stream_tail.h"

namespace tarvo {

StreamTail::StreamTail(std::size_t keep, Spill spill) : m_keep(keep), m_spill(std::move(spill)) {
  m_buffer.reserve(2 * keep);
}

void StreamTail::Append(std::string_view bytes) {
  m_total += bytes.size();
  m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
  // Trimmed only once twice the span is held, so that each byte moves at most once more.
  if (m_buffer.size() <= 2 * m_keep) return;
  const std::size_t excess = m_buffer.size() - m_keep;
  if (m_spill) m_spill(std::string_view(m_buffer.data(), excess));
  m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(excess));
}

}  // namespace tarvo
