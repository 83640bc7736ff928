#pragma once
// Making the signatures that archive_signature.h checks: keys, and the signed end of an
// archive. The launcher never signs; the publishing tool and the tests do.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "unzip/archive_signature.h"

namespace tarvo {

// An Ed25519 secret key as libsodium keeps it: the 32-byte seed, then the public key.
struct SecretKey {
  std::array<unsigned char, 64> bytes{};
};

// The secret key of 64 bytes that `base64` spells; nothing for any other text.
std::optional<SecretKey> DecodeSecretKey(std::string_view base64);

// A new key pair from the system's randomness, or the one that a 32-byte seed determines.
std::pair<PublicKey, SecretKey> MakeKeyPair();
std::pair<PublicKey, SecretKey> MakeKeyPair(const std::array<unsigned char, 32>& seed);

// What the signed archive holds from ending.signedEnd on: the comment length field and the
// signature comment. Whatever the archive held there before (an old comment, bytes after it)
// is to be replaced by it.
std::string SignedEnd(const ArchiveStream::Ending& ending, const SecretKey& key);

// `archive` signed for `versions`; nothing when it has no end record or the versions are not
// 13 digits.
std::optional<std::string> SignArchive(std::string_view archive, std::string_view versions,
                                       const SecretKey& key);

}  // namespace tarvo
