#include "unzip/zip_item_stream.h"

#include <algorithm>
#include <cstring>

namespace tarvo {

namespace {

// Compressed data is taken from the archive in pieces of this size.
constexpr std::uint32_t kInputSize = 16384;

constexpr std::uint32_t kFlagEncrypted = 0x1;
constexpr std::uint32_t kFlagDataDescriptor = 0x8;

}  // namespace

ZipItemStream::ZipItemStream() : m_input(std::make_unique<std::uint8_t[]>(kInputSize)) {}

ZipItemStream::~ZipItemStream() {
  Close();
  if (m_inflateReady) inflateEnd(&m_inflate);
}

int ZipItemStream::Open(unzFile archive) {
  Close();
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
    return kDataFailure;
  }
  if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) return kDataFailure;
  int method = 0, level = 0;
  // Raw: minizip hands over the stored bytes, still encrypted and compressed.
  if (unzOpenCurrentFile2(archive, &method, &level, 1) != UNZ_OK) return kDataFailure;
  m_archive = archive;
  m_deflated = info.compression_method == Z_DEFLATED;
  m_encrypted = (info.flag & kFlagEncrypted) != 0;
  m_streamEnded = m_inputEnded = m_failed = false;
  m_left = info.uncompressed_size;
  m_crc = crc32(0, nullptr, 0);
  m_expectedCrc = static_cast<std::uint32_t>(info.crc);
  m_inflate.next_in = nullptr;
  m_inflate.avail_in = 0;
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
    int got = 0;
    while (got < kZipEncryptionHeaderSize) {
      const int n = unzReadCurrentFile(archive, header + got,
                                       static_cast<unsigned>(kZipEncryptionHeaderSize - got));
      if (n <= 0) {
        m_failed = true;
        return kDataFailure;
      }
      got += n;
    }
    std::uint8_t last = 0;
    for (const std::uint8_t byte : header) last = m_keys.Decrypt(byte);
    // With a data descriptor the CRC is not known when the header is written, so the check
    // byte is taken from the DOS time instead.
    const std::uint8_t check = (info.flag & kFlagDataDescriptor)
                                   ? static_cast<std::uint8_t>(info.dosDate >> 8)
                                   : static_cast<std::uint8_t>(info.crc >> 24);
    if (last != check) {
      m_failed = true;
      return kPasswordFailure;
    }
  }
  return 0;
}

bool ZipItemStream::Refill() {
  const int n = unzReadCurrentFile(m_archive, m_input.get(), kInputSize);
  if (n < 0) return false;
  if (n == 0) {
    m_inputEnded = true;
    return true;
  }
  if (m_encrypted) {
    for (int i = 0; i < n; ++i) m_input[i] = m_keys.Decrypt(m_input[i]);
  }
  m_inflate.next_in = m_input.get();
  m_inflate.avail_in = static_cast<uInt>(n);
  return true;
}

int ZipItemStream::Read(std::uint8_t* buffer, std::uint32_t size, bool* end) {
  *end = false;
  if (m_archive == nullptr || m_failed) return kDataFailure;
  if (m_left == 0 || m_streamEnded) {
    *end = true;
    return 0;
  }
  const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, m_left));
  std::uint32_t delivered = 0;
  while (delivered < want && !m_streamEnded) {
    if (m_inflate.avail_in == 0 && !m_inputEnded && !Refill()) {
      m_failed = true;
      return kDataFailure;
    }
    if (!m_deflated) {
      if (m_inflate.avail_in == 0) break;  // the stored bytes ran out before the record's size
      const std::uint32_t n = std::min(m_inflate.avail_in, want - delivered);
      std::memcpy(buffer + delivered, m_inflate.next_in, n);
      m_inflate.next_in += n;
      m_inflate.avail_in -= n;
      delivered += n;
      continue;
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
  m_crc = crc32(m_crc, buffer, delivered);
  m_left -= delivered;
  *end = m_left == 0 || m_streamEnded;
  return static_cast<int>(delivered);
}

ZipItemStream::Verdict ZipItemStream::Close() {
  if (m_archive == nullptr) return Verdict::kIncomplete;
  unzCloseCurrentFile(m_archive);
  m_archive = nullptr;
  if (m_failed || m_left != 0) return Verdict::kIncomplete;
  return m_crc == m_expectedCrc ? Verdict::kComplete : Verdict::kCrcMismatch;
}

}  // namespace tarvo
