#include "unzip/zip_crypto.h"

#include <zlib.h>

namespace tarvo {

namespace {

std::uint32_t Crc32Step(std::uint32_t crc, std::uint8_t byte) {
  static const z_crc_t* const table = get_crc_table();
  return static_cast<std::uint32_t>(table[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

}  // namespace

ZipCryptoKeys::ZipCryptoKeys(std::string_view password)
    : m_keys{0x12345678u, 0x23456789u, 0x34567890u} {
  for (const char c : password) Update(static_cast<std::uint8_t>(c));
}

std::uint8_t ZipCryptoKeys::StreamByte() const {
  const std::uint32_t t = (m_keys[2] | 2u) & 0xFFFFu;
  return static_cast<std::uint8_t>((t * (t ^ 1u)) >> 8);
}

void ZipCryptoKeys::Update(std::uint8_t plain) {
  m_keys[0] = Crc32Step(m_keys[0], plain);
  m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFFu)) * 134775813u + 1u;
  m_keys[2] = Crc32Step(m_keys[2], static_cast<std::uint8_t>(m_keys[1] >> 24));
}

}  // namespace tarvo
