#include "support/test_keys.h"

#include <algorithm>
#include <stdexcept>

namespace tarvo::test {

namespace {

std::pair<PublicKey, SecretKey> FromSeed(std::string_view text) {
  std::array<unsigned char, 32> seed{};
  std::copy_n(text.begin(), std::min(text.size(), seed.size()), seed.begin());
  return MakeKeyPair(seed);
}

const std::pair<PublicKey, SecretKey>& TestPair() {
  static const auto pair = FromSeed(kTestKeySeed);
  return pair;
}

}  // namespace

const SecretKey& TestSecretKey() { return TestPair().second; }

const PublicKey& TestPublicKey() { return TestPair().first; }

const SecretKey& OtherSecretKey() {
  static const auto pair = FromSeed("another key, trusted by nobody!!");
  return pair.second;
}

std::string Signed(const std::string& archive, std::string_view versions, const SecretKey& key) {
  const std::optional<std::string> result = SignArchive(archive, versions, key);
  if (!result) throw std::invalid_argument("no archive to sign");
  return *result;
}

}  // namespace tarvo::test
