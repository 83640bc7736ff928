#pragma once
// The signing key of the tests: derived from a fixed seed, so that its public key can be built
// into a launcher for the tests (TARVO_TEST_PUBLIC_KEY), and another key to sign with wrongly.

#include <string>
#include <string_view>

#include "unzip/archive_signing.h"

namespace tarvo::test {

// The seed of the tests' key: 32 bytes of ASCII.
inline constexpr std::string_view kTestKeySeed = "tarvo test signing key, public!!";

const SecretKey& TestSecretKey();
const PublicKey& TestPublicKey();
// A key the tests' launchers do not trust.
const SecretKey& OtherSecretKey();

// `archive` signed for `versions` with `key` (the tests' own by default).
std::string Signed(const std::string& archive, std::string_view versions,
                   const SecretKey& key = TestSecretKey());

}  // namespace tarvo::test
