#include "patch/segment_hash.h"

#include <sodium.h>

namespace tarvo {

SegmentHash HashBytes(const void* data, std::size_t size) {
  // Picks the fastest implementation the processor allows; safe to call from any thread.
  static const bool ready = sodium_init() >= 0;
  (void)ready;
  SegmentHash hash{};
  crypto_generichash(hash.data(), hash.size(), static_cast<const unsigned char*>(data), size,
                     nullptr, 0);
  return hash;
}

bool HashMatches(std::span<const std::uint8_t> bytes, const SegmentHash& hash) {
  return HashBytes(bytes.data(), bytes.size()) == hash;
}

std::string HashToHex(const SegmentHash& hash) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(hash.size() * 2);
  for (const unsigned char byte : hash) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 15]);
  }
  return hex;
}

}  // namespace tarvo
