#pragma once
// Reading the data of one archive item: its stored bytes are read from the archive file in
// large blocks at their offset; decryption (with the empty password), inflating and the CRC-32
// happen here.

#include <zlib.h>

#include <cstdint>
#include <memory>

#include "unzip/zip_archive_file.h"
#include "unzip/zip_crypto.h"

namespace tarvo {

// Where an item's data lies in the archive file, and what its record says of it.
struct ZipItemData {
  std::uint64_t headerOffset = 0;    // of its local header in the file
  std::uint64_t offset = 0;          // of the first stored byte
  std::uint64_t compressedSize = 0;  // stored bytes, an encryption header included
  std::uint64_t uncompressedSize = 0;
  std::uint32_t crc = 0;
  std::uint32_t dosDate = 0;
  std::uint32_t flags = 0;
  bool deflated = false;  // else stored
};

class ZipItemStream {
 public:
  // What Read and Open return on failure besides a negative zlib code.
  static constexpr int kPasswordFailure = -0x1000;
  static constexpr int kDataFailure = -0x5000;

  // How reading ended, as Close reports it.
  enum class Verdict {
    kComplete,     // every byte the record announces was delivered, and the CRC-32 matches
    kCrcMismatch,  // every byte was delivered, but the CRC-32 differs
    kIncomplete,   // reading stopped before the last byte (failure, or a stream that ended early)
  };

  ZipItemStream();
  ZipItemStream(const ZipItemStream&) = delete;
  ZipItemStream& operator=(const ZipItemStream&) = delete;
  ~ZipItemStream();

  // Opens the item that `data` describes in `file`, which must stay open until Close, closing
  // what was open. An encrypted item's header is read and its check byte compared at once.
  // Returns 0, kPasswordFailure, or kDataFailure when the stored bytes would reach past the end
  // of the file, the header cannot be read or inflating cannot start.
  int Open(ZipArchiveFile& file, const ZipItemData& data);

  // Delivers up to `size` bytes, and at most the bytes left, filling `buffer` unless fewer are
  // left. Returns how many were delivered or a negative value on failure (the archive cannot
  // be read, or the deflate stream is damaged or runs out of stored bytes before its end).
  // `*end` is set by the read that delivers the last byte, the read at which the deflate stream
  // ends, and a read with nothing left, which returns 0.
  int Read(std::uint8_t* buffer, std::uint32_t size, bool* end);

  // Closes the item and says how its reading ended. Nothing happens when none is open.
  Verdict Close();

 private:
  // Reads the next stored bytes, up to `size` and at most those left, into `buffer`, decrypted.
  // Returns how many: fewer where the archive ends, 0 once none are left; -1 when the archive
  // cannot be read.
  std::int64_t ReadStored(std::uint8_t* buffer, std::uint32_t size);
  bool Refill();

  ZipArchiveFile* m_file = nullptr;  // null while no item is open
  std::uint64_t m_position = 0;      // of the next stored byte in the file
  std::uint64_t m_storedLeft = 0;
  bool m_deflated = false;
  bool m_encrypted = false;
  bool m_streamEnded = false;
  bool m_inputEnded = false;
  bool m_failed = false;
  std::uint64_t m_left = 0;
  std::uint32_t m_crc = 0;
  std::uint32_t m_expectedCrc = 0;
  ZipCryptoKeys m_keys;
  std::unique_ptr<std::uint8_t[]> m_input;
  z_stream m_inflate{};
  bool m_inflateReady = false;
};

}  // namespace tarvo
