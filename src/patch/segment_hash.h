#pragma once
// The hash that names the pieces of a patch and the files it makes: BLAKE2b with a 32-byte
// digest, unkeyed (what "b2sum -l 256" prints for the same bytes).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tarvo {

using SegmentHash = std::array<unsigned char, 32>;

// The hash of `size` bytes at `data`.
SegmentHash HashBytes(const void* data, std::size_t size);

// True when `bytes` hash to `hash`.
bool HashMatches(std::span<const std::uint8_t> bytes, const SegmentHash& hash);

// The hash as 64 lower-case hexadecimal digits.
std::string HashToHex(const SegmentHash& hash);

}  // namespace tarvo
