#include "unzip/archive_signing.h"

#include <sodium.h>

namespace tarvo {

std::optional<SecretKey> DecodeSecretKey(std::string_view base64) {
  SecretKey key;
  if (!DecodeBase64(base64, key.bytes.data(), key.bytes.size())) return std::nullopt;
  return key;
}

std::pair<PublicKey, SecretKey> MakeKeyPair() {
  std::array<unsigned char, 32> seed{};
  if (sodium_init() >= 0) randombytes_buf(seed.data(), seed.size());
  std::pair<PublicKey, SecretKey> pair = MakeKeyPair(seed);
  sodium_memzero(seed.data(), seed.size());
  return pair;
}

std::pair<PublicKey, SecretKey> MakeKeyPair(const std::array<unsigned char, 32>& seed) {
  std::pair<PublicKey, SecretKey> pair;
  crypto_sign_seed_keypair(pair.first.bytes.data(), pair.second.bytes.data(), seed.data());
  return pair;
}

std::string SignedEnd(const ArchiveStream::Ending& ending, const SecretKey& key) {
  unsigned char signature[crypto_sign_BYTES];
  crypto_sign_detached(signature, nullptr,
                       reinterpret_cast<const unsigned char*>(ending.statement.data()),
                       ending.statement.size(), key.bytes.data());
  std::string end;
  end.push_back(static_cast<char>(kSignatureCommentSize & 0xFF));
  end.push_back(static_cast<char>(kSignatureCommentSize >> 8));
  end.append(kSignatureCommentHead);
  end.append(EncodeBase64(signature, sizeof signature));
  return end;
}

std::optional<std::string> SignArchive(std::string_view archive, std::string_view versions,
                                       const SecretKey& key) {
  ArchiveStream stream(ArchiveStream::Hashing::kHere, versions);
  stream.Append(archive);
  const std::optional<ArchiveStream::Ending> ending = stream.Finish();
  if (!ending || ending->statement.empty()) return std::nullopt;
  std::string signedArchive(archive.substr(0, static_cast<std::size_t>(ending->signedEnd)));
  signedArchive.append(SignedEnd(*ending, key));
  return signedArchive;
}

}  // namespace tarvo
