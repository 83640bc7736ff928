#include "unzip/zip_fields.h"
#include "unzip/zip_item_stream.h"

#include <algorithm>

#include "unzip/zip_crc32.h"

namespace tarvo {

namespace {

// Compressed data is read from the archive in blocks of this size; stored data in blocks of
// the size the caller asks for.
constexpr std::uint32_t kInputSize = 256 * 1024;

}  // namespace

ZipItemStream::ZipItemStream() : m_input(std::make_unique<std::uint8_t[]>(kInputSize)) {}

ZipItemStream::~ZipItemStream() {
  Close();
  if (m_inflateReady) inflateEnd(&m_inflate);
}

int ZipItemStream::Open(ZipArchiveFile& file, const ZipItemData& data) {
  Close();
  m_file = &file;
  m_position = data.offset;
  m_storedLeft = data.compressedSize;
  m_deflated = data.deflated;
  m_encrypted = (data.flags & kZipFlagEncrypted) != 0;
  m_streamEnded = m_inputEnded = m_failed = false;
  m_left = data.uncompressedSize;
  m_crc = crc32(0, nullptr, 0);
  m_expectedCrc = data.crc;
  m_inflate.next_in = nullptr;
  m_inflate.avail_in = 0;
  // A record that places stored bytes past the end of the archive is damaged.
  if (data.compressedSize > file.Size() || data.offset > file.Size() - data.compressedSize) {
    m_failed = true;
    return kDataFailure;
  }
  if (m_deflated) {
    const int status =
        m_inflateReady ? inflateReset(&m_inflate) : inflateInit2(&m_inflate, -MAX_WBITS);
    if (status != Z_OK) {
      m_failed = true;
      return kDataFailure;
    }
    m_inflateReady = true;
  }
  if (m_encrypted) {
    m_keys = ZipCryptoKeys();
    std::uint8_t header[kZipEncryptionHeaderSize];
    if (ReadStored(header, kZipEncryptionHeaderSize) != kZipEncryptionHeaderSize) {
      m_failed = true;
      return kDataFailure;
    }
    // With a data descriptor the CRC is not known when the header is written, so the check
    // byte is taken from the DOS time instead.
    const std::uint8_t check = (data.flags & kZipFlagDataDescriptor)
                                   ? static_cast<std::uint8_t>(data.dosDate >> 8)
                                   : static_cast<std::uint8_t>(data.crc >> 24);
    if (header[kZipEncryptionHeaderSize - 1] != check) {
      m_failed = true;
      return kPasswordFailure;
    }
  }
  return 0;
}

std::int64_t ZipItemStream::ReadStored(std::uint8_t* buffer, std::uint32_t size) {
  const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, m_storedLeft));
  if (want == 0) return 0;
  const std::int64_t n = m_file->ReadBlock(m_position, buffer, want);
  if (n <= 0) return n;
  if (m_encrypted) {
    for (std::int64_t i = 0; i < n; ++i) buffer[i] = m_keys.Decrypt(buffer[i]);
  }
  m_position += static_cast<std::uint64_t>(n);
  m_storedLeft -= static_cast<std::uint64_t>(n);
  return n;
}

bool ZipItemStream::Refill() {
  const std::int64_t n = ReadStored(m_input.get(), kInputSize);
  if (n < 0) return false;
  if (n == 0) {
    m_inputEnded = true;
    return true;
  }
  m_inflate.next_in = m_input.get();
  m_inflate.avail_in = static_cast<uInt>(n);
  return true;
}

int ZipItemStream::Read(std::uint8_t* buffer, std::uint32_t size, bool* end) {
  *end = false;
  if (m_file == nullptr || m_failed) return kDataFailure;
  if (m_left == 0 || m_streamEnded) {
    *end = true;
    return 0;
  }
  const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, m_left));
  std::uint32_t delivered = 0;
  if (!m_deflated) {
    // Stored bytes go straight into the caller's buffer; fewer than wanted when they run out
    // (or the archive ends) before the record's size.
    const std::int64_t n = ReadStored(buffer, want);
    if (n < 0) {
      m_failed = true;
      return kDataFailure;
    }
    delivered = static_cast<std::uint32_t>(n);
  }
  while (m_deflated && delivered < want && !m_streamEnded) {
    if (m_inflate.avail_in == 0 && !m_inputEnded && !Refill()) {
      m_failed = true;
      return kDataFailure;
    }
    m_inflate.next_out = buffer + delivered;
    m_inflate.avail_out = want - delivered;
    const int status = inflate(&m_inflate, Z_NO_FLUSH);
    delivered = want - m_inflate.avail_out;
    if (status == Z_STREAM_END) {
      m_streamEnded = true;
    } else if (status != Z_OK) {
      // Z_BUF_ERROR here means the input ended inside the stream.
      m_failed = true;
      return status == Z_BUF_ERROR ? Z_DATA_ERROR : status;
    }
  }
  m_crc = ZipCrc32(m_crc, buffer, delivered);
  m_left -= delivered;
  *end = m_left == 0 || m_streamEnded;
  return static_cast<int>(delivered);
}

ZipItemStream::Verdict ZipItemStream::Close() {
  if (m_file == nullptr) return Verdict::kIncomplete;
  m_file = nullptr;
  if (m_failed || m_left != 0) return Verdict::kIncomplete;
  return m_crc == m_expectedCrc ? Verdict::kComplete : Verdict::kCrcMismatch;
}

}  // namespace tarvo
