// The signature reader on hostile archives: whatever the bytes, reading them streams within its
// bounds; an archive signed from them verifies, in pieces of any size, and no byte of it can be
// changed without the signature failing.
//
// The input: a byte for the piece size, two for the position of a changed byte, one for how it
// changes, then the archive's bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "unzip/archive_signing.h"

namespace {

const std::pair<tarvo::PublicKey, tarvo::SecretKey>& Keys() {
  static const auto keys = tarvo::MakeKeyPair(std::array<unsigned char, 32>{1, 2, 3});
  return keys;
}

bool Verifies(std::string_view archive, std::size_t piece, bool concurrently) {
  tarvo::ArchiveStream stream(concurrently ? tarvo::ArchiveStream::Hashing::kConcurrently
                                           : tarvo::ArchiveStream::Hashing::kHere,
                              "0000100000003");
  for (std::size_t at = 0; at < archive.size(); at += piece) {
    stream.Append(archive.substr(at, piece));
  }
  const auto ending = stream.Finish();
  return ending && tarvo::VerifyEnding(*ending, Keys().first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::size_t piece = std::size_t{data[0]} * 97 + 1;
  const std::size_t position = data[1] | (data[2] << 8);
  const std::uint8_t change = data[3];
  const std::string_view archive(reinterpret_cast<const char*>(data) + 4, size - 4);

  // Unsigned bytes never pass for signed with this key.
  if (Verifies(archive, piece, false)) std::abort();
  const auto signedArchive = tarvo::SignArchive(archive, "0000100000003", Keys().second);
  if (!signedArchive) return 0;
  if (!Verifies(*signedArchive, piece, (change & 1) != 0)) std::abort();
  if (change == 0) return 0;
  std::string changed = *signedArchive;
  changed[position % changed.size()] ^= static_cast<char>(change);
  if (Verifies(changed, piece, false)) std::abort();
  return 0;
}
