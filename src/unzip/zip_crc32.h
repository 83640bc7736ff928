#pragma once
// The CRC-32 that zip items carry (zlib's crc32), as fast as the processor allows.

#include <cstddef>
#include <cstdint>

namespace tarvo {

// The CRC-32 of `size` bytes at `data` continuing `crc`, exactly as zlib's crc32(crc, data,
// size) gives it. Long runs are folded with carry-less multiplication where the processor has
// it (x86 with PCLMULQDQ and SSE4.1), several times faster than zlib's tables; zlib computes
// the rest.
std::uint32_t ZipCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

}  // namespace tarvo
