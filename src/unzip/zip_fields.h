#pragma once
// Reading what zip records hold: little-endian numbers, and the blocks of an extra field.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tarvo {

// The unsigned value of the `size` bytes (at most 8) at `p`, least significant first.
inline std::uint64_t ZipLittleEndian(const void* p, int size) {
  const auto* bytes = static_cast<const std::uint8_t*>(p);
  std::uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// An extra field is a sequence of blocks: a 2-byte id, a 2-byte data size and that many bytes.
// Returns the data of the first block with `id`, cut where the field ends; nothing when there is
// none. A block is looked at only while more than its 4-byte head is left of the field.
std::optional<std::span<const std::uint8_t>> FindZipExtraBlock(const std::uint8_t* field,
                                                               std::size_t length,
                                                               std::uint16_t id);

}  // namespace tarvo
