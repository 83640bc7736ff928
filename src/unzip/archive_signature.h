#pragma once
// Signed update archives: an Ed25519 signature of the archive's bytes and the versions it is
// published for, carried in the comment of the archive's end record.
//
// The signature covers a statement of 94 bytes:
//   "TARVO-ARCHIVE-1\n"            16 ASCII bytes
//   the 13 version digits          as in the version list entry and the stored archive's name
//   "\n"
//   BLAKE2b-512 (unkeyed, 64 bytes) of the archive from its first byte up to, and not
//   including, the end record's comment length field (the end record's first 20 bytes are
//   the last ones it covers)
// and the end record's comment is exactly "TARVO-SIGNATURE-1 " followed by the 64-byte
// signature in standard base64 with padding (88 characters), reaching the end of the file.
// Readers of zip files ignore the comment, so a signed archive stays an ordinary archive.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/stream_tail.h"
#include "unzip/zip_end_record.h"
#include "unzip/zip_stream_check.h"

namespace tarvo {

inline constexpr std::string_view kSignedStatementHead = "TARVO-ARCHIVE-1\n";
inline constexpr std::string_view kSignatureCommentHead = "TARVO-SIGNATURE-1 ";
inline constexpr std::size_t kSignatureCommentSize = kSignatureCommentHead.size() + 88;
// The version digits a statement names.
inline constexpr std::size_t kSignedVersionsSize = 13;

// True when `versions` is 13 decimal digits, as a statement names them.
bool IsSignedVersions(std::string_view versions);

// The versions an archive file is published for: the 13 digits that the name at the end of
// `path` begins with; empty when it does not begin with them.
std::string SignedVersionsOfFile(std::u16string_view path);

struct PublicKey {
  std::array<unsigned char, 32> bytes{};
};

// Standard base64 with padding.
std::string EncodeBase64(const unsigned char* bytes, std::size_t size);

// Decodes `text` into exactly `size` bytes at `out`: true only for text that EncodeBase64 would
// write for them. Decoders pass over bits that the last characters do not use; here none may
// differ, so that no byte of a signed archive can change and still pass.
bool DecodeBase64(std::string_view text, unsigned char* out, std::size_t size);

// The key of 32 bytes that `base64` (standard alphabet, with padding) spells; nothing for any
// other text.
std::optional<PublicKey> DecodePublicKey(std::string_view base64);

// The statement that the signature of an archive published for `versions` covers, given the
// hash of its signed bytes.
std::string SignedStatement(std::string_view versions, const unsigned char (&hash)[64]);

// An archive whose bytes go by in blocks: its last bytes kept for its end record and, when its
// signature is to be checked or made, the hash of the others; and, when asked, the check of
// its items as they go by (ZipStreamCheck). Blocks are taken over, not copied; with
// Hashing::kConcurrently the hash runs on a thread of its own while the blocks arrive, so that
// a transfer is not slowed by it on a machine with a core to spare, and the check of the items
// runs on that thread too (without hashing, on a thread of its own). Memory stays bounded: the
// end's span, and a few blocks waiting for the thread.
class ArchiveStream {
 public:
  enum class Hashing { kNone, kHere, kConcurrently };
  // `versions`: the 13 decimal digits the archive is published for (for a signature).
  // `items`: where the items are checked, or null; it must outlive the stream.
  explicit ArchiveStream(Hashing hashing, std::string_view versions = {},
                         ZipStreamCheck* items = nullptr);
  ArchiveStream(const ArchiveStream&) = delete;
  ArchiveStream& operator=(const ArchiveStream&) = delete;
  ~ArchiveStream();

  void Append(StreamTail::Block block);
  // The same for bytes that stay the caller's: they are copied.
  void Append(std::string_view bytes);
  // Counts `count` bytes that go by unseen, when nothing is hashed or checked: the end record
  // needs only the archive's last bytes and its length. False, and nothing counted, otherwise.
  bool Skip(std::uint64_t count);

  // What the end of the archive says.
  struct Ending {
    ZipEndRecord record;
    std::uint64_t signedEnd = 0;     // where the end record's comment length field starts
    std::string statement;           // what a signature covers; empty without hashing
    std::string comment;             // the end record's comment, as far as the archive holds it
    bool commentReachesEnd = false;  // whether the comment ends where the archive ends
  };
  // After the last byte: nothing when the archive has no end record (FindZipEndRecord). Every
  // byte has reached the check of the items by then. Call once.
  std::optional<Ending> Finish();

 private:
  class Worker;
  std::string m_versions;
  bool m_hashing = false;
  std::unique_ptr<Worker> m_worker;  // none without hashing or checking
  StreamTail m_tail;
};

// True when `ending` is that of a signed archive (its comment a signature, reaching the end of
// the file) and the signature verifies with `key`.
bool VerifyEnding(const ArchiveStream::Ending& ending, const PublicKey& key);

// Reads the archive at `path` once, in large blocks, and checks its signature for `versions`
// and `key` (VerifyEnding). False also when the file cannot be read.
bool VerifyArchiveFile(const char16_t* path, const PublicKey& key, std::string_view versions);

}  // namespace tarvo
