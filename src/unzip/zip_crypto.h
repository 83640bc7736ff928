#pragma once
// The traditional PKWARE encryption of zip items: three keys driven by the plain text.

#include <cstdint>
#include <string_view>

namespace tarvo {

// Bytes of the encryption header in front of an encrypted item's data.
inline constexpr int kZipEncryptionHeaderSize = 12;

class ZipCryptoKeys {
 public:
  // The keys after their initial values have taken in `password`; the empty password leaves
  // them at the initial values.
  explicit ZipCryptoKeys(std::string_view password = {});

  // The byte that encrypts (and decrypts) the next byte by exclusive or.
  std::uint8_t StreamByte() const;
  // Moves the keys on by the plain byte just encrypted or decrypted.
  void Update(std::uint8_t plain);

  std::uint8_t Decrypt(std::uint8_t cipher) {
    const auto plain = static_cast<std::uint8_t>(cipher ^ StreamByte());
    Update(plain);
    return plain;
  }
  std::uint8_t Encrypt(std::uint8_t plain) {
    const auto cipher = static_cast<std::uint8_t>(plain ^ StreamByte());
    Update(plain);
    return cipher;
  }

 private:
  std::uint32_t m_keys[3];
};

}  // namespace tarvo
