#include "common/stream_tail.h"

namespace tarvo {

std::vector<StreamTail::Block> StreamTail::Push(Block block) {
  std::vector<Block> released;
  if (block.empty()) return released;
  m_total += block.size();
  m_held += block.size();
  m_blocks.push_back(std::move(block));
  while (m_held - m_blocks.front().size() >= m_keep) {
    m_held -= m_blocks.front().size();
    released.push_back(std::move(m_blocks.front()));
    m_blocks.pop_front();
  }
  return released;
}

void StreamTail::Skip(std::uint64_t count) {
  if (count == 0) return;
  m_total += count;
  m_blocks.clear();
  m_held = 0;
}

std::string StreamTail::Bytes() const {
  std::string bytes;
  bytes.reserve(m_held);
  for (const Block& block : m_blocks) bytes.append(block.data(), block.size());
  return bytes;
}

}  // namespace tarvo
