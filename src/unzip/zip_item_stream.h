#pragma once
// Reading the data of one archive item: its compressed bytes come from minizip unchanged;
// decryption (with the empty password), inflating and the CRC-32 happen here.

#include <minizip/unzip.h>
#include <zlib.h>

#include <cstdint>
#include <memory>

#include "unzip/zip_crypto.h"

namespace tarvo {

class ZipItemStream {
 public:
  // What Read and Open return on failure besides a negative zlib or minizip code.
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

  // Opens the current entry of `archive` for reading, closing what was open. An encrypted
  // entry's header is consumed and its check byte compared at once. Returns 0,
  // kPasswordFailure, or another negative value when the entry cannot be opened or is
  // neither stored nor deflated.
  int Open(unzFile archive);

  // Delivers up to `size` bytes, and at most the bytes left, filling `buffer` unless fewer are
  // left. Returns how many were delivered or a negative value on failure (kPasswordFailure
  // for a wrong check byte). `*end` is set by the read that delivers the last byte, the read
  // at which the deflate stream ends, and a read with nothing left, which returns 0.
  int Read(std::uint8_t* buffer, std::uint32_t size, bool* end);

  // Closes the entry and says how its reading ended. Nothing happens when none is open.
  Verdict Close();

 private:
  bool Refill();

  unzFile m_archive = nullptr;
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
