#include "unzip/zip_archive_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tarvo {

namespace {

// Bytes of the small buffer: a record or a local header with its name fits, and a refill reads
// little that is not used.
constexpr std::uint32_t kBufferSize = 4096;

}  // namespace

ZipArchiveFile::ZipArchiveFile() : m_buffer(std::make_unique<std::uint8_t[]>(kBufferSize)) {}

bool ZipArchiveFile::Open(const char16_t* path) {
  Close();
  if (path == nullptr || !m_file.Open(path) || !m_file.GetSize(&m_size)) {
    m_file.Close();
    return false;
  }
  return true;
}

void ZipArchiveFile::Close() {
  m_file.Close();
  m_bufferLength = 0;
}

std::uint64_t ZipArchiveFile::Size() { return m_file.IsOpen() ? m_size : 0; }

bool ZipArchiveFile::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size) {
  return ReadBuffered(offset, static_cast<std::uint8_t*>(buffer), size) == size;
}

std::int64_t ZipArchiveFile::ReadBlock(std::uint64_t offset, void* buffer, std::uint32_t size) {
  DWORD read = 0;
  // An offset so far out that the read would pass the largest one has nothing to read.
  size = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(size, std::numeric_limits<std::uint64_t>::max() - offset));
  if (!m_file.ReadAt(offset, buffer, size, &read)) return -1;
  return read;
}

std::int64_t ZipArchiveFile::ReadBuffered(std::uint64_t offset, std::uint8_t* buffer,
                                          std::uint32_t size) {
  size = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(size, std::numeric_limits<std::uint64_t>::max() - offset));
  std::uint32_t done = 0;
  bool ended = false;  // a refill of this call found the end of the file
  while (done < size) {
    const std::uint64_t at = offset + done;
    if (at < m_bufferStart || at - m_bufferStart >= m_bufferLength) {
      if (ended) break;
      if (size - done >= kBufferSize) {
        const std::int64_t n = ReadBlock(at, buffer + done, size - done);
        return n < 0 ? -1 : done + n;
      }
      m_bufferLength = 0;
      DWORD read = 0;
      if (!m_file.ReadAt(at, m_buffer.get(), kBufferSize, &read)) return -1;
      m_bufferStart = at;
      m_bufferLength = read;
      ended = read < kBufferSize;
      if (read == 0) break;
    }
    const auto n = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(size - done, m_bufferLength - (at - m_bufferStart)));
    std::memcpy(buffer + done, m_buffer.get() + (at - m_bufferStart), n);
    done += n;
  }
  return done;
}

}  // namespace tarvo
