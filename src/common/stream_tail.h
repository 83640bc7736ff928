#pragma once
// The last bytes of a stream that goes by piece by piece, kept in bounded memory.

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace tarvo {

class StreamTail {
 public:
  // What falls out of the kept span, in order, each byte once.
  using Spill = std::function<void(std::string_view)>;

  // Keeps the last `keep` bytes; hands older ones to `spill` (none when it is empty).
  explicit StreamTail(std::size_t keep, Spill spill = {});

  void Append(std::string_view bytes);

  // The kept bytes: the whole stream while it is no longer than `keep`, else at least its last
  // `keep` bytes.
  std::string_view bytes() const { return {m_buffer.data(), m_buffer.size()}; }
  // The length of the stream so far.
  std::uint64_t total() const { return m_total; }

 private:
  std::size_t m_keep;
  Spill m_spill;
  std::vector<char> m_buffer;
  std::uint64_t m_total = 0;
};

}  // namespace tarvo
