#include "unzip/zip_fields.h"

#include <algorithm>

namespace tarvo {

std::optional<std::span<const std::uint8_t>> FindZipExtraBlock(const std::uint8_t* field,
                                                               std::size_t length,
                                                               std::uint16_t id) {
  std::size_t p = 0;
  while (p + 4 < length) {
    const std::size_t dataSize = ZipLittleEndian(field + p + 2, 2);
    if (ZipLittleEndian(field + p, 2) == id) {
      return std::span<const std::uint8_t>(field + p + 4, std::min(length - p - 4, dataSize));
    }
    p += 4 + dataSize;
  }
  return std::nullopt;
}

}  // namespace tarvo
