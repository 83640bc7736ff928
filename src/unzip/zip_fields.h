#pragma once
// Reading what zip records hold: little-endian numbers, and the blocks of an extra field.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tarvo {

// What more than one reader of zip records needs of them.
inline constexpr std::uint32_t kZipLocalHeaderSize = 30;  // bytes before the name
inline constexpr char kZipLocalHeaderSignature[] = "PK\x03\x04";
inline constexpr std::uint16_t kZipMethodStored = 0;
inline constexpr std::uint16_t kZipMethodDeflated = 8;
inline constexpr std::uint16_t kZipFlagEncrypted = 0x1;
inline constexpr std::uint16_t kZipFlagDataDescriptor = 0x8;
// A 32-bit size or offset field that defers to the zip64 block.
inline constexpr std::uint64_t kZipDeferred = 0xFFFFFFFF;
inline constexpr std::uint16_t kZip64BlockId = 0x0001;

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
