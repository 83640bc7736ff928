#pragma once
// The last bytes of a stream that goes by in blocks, kept as the blocks themselves: nothing is
// copied on the way, and memory stays bounded by the span kept and a block.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace tarvo {

class StreamTail {
 public:
  using Block = std::vector<char>;

  // Keeps blocks until the ones after them hold the last `keep` bytes.
  explicit StreamTail(std::size_t keep) : m_keep(keep) {}

  // Takes the next block; gives back, oldest first, the blocks that no longer hold any of the
  // last `keep` bytes.
  std::vector<Block> Push(Block block);

  // Counts `count` bytes that go by without being seen, in front of the next block; what was
  // kept before them is dropped, as it no longer ends where the stream is.
  void Skip(std::uint64_t count);

  // The kept bytes, copied together: at least the last `keep` bytes, or the whole stream when
  // it is no longer.
  std::string Bytes() const;
  // The length of the stream so far.
  std::uint64_t total() const { return m_total; }

 private:
  std::size_t m_keep;
  std::deque<Block> m_blocks;
  std::size_t m_held = 0;
  std::uint64_t m_total = 0;
};

}  // namespace tarvo
