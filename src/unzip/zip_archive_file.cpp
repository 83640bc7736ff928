#include "unzip/zip_archive_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tarvo {

namespace {

// Bytes of the buffer that serves minizip: a record or a local header with its name fits, and
// a refill reads little that is not used.
constexpr std::uint32_t kBufferSize = 4096;

ZipArchiveFile* Self(voidpf opaque) { return static_cast<ZipArchiveFile*>(opaque); }

}  // namespace

ZipArchiveFile::ZipArchiveFile() : m_buffer(std::make_unique<std::uint8_t[]>(kBufferSize)) {}

zlib_filefunc64_def ZipArchiveFile::Functions() {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = &ZipArchiveFile::OpenCallback;
  functions.zread_file = &ZipArchiveFile::ReadCallback;
  functions.zwrite_file = &ZipArchiveFile::WriteCallback;
  functions.ztell64_file = &ZipArchiveFile::TellCallback;
  functions.zseek64_file = &ZipArchiveFile::SeekCallback;
  functions.zclose_file = &ZipArchiveFile::CloseCallback;
  functions.zerror_file = &ZipArchiveFile::ErrorCallback;
  functions.opaque = this;
  return functions;
}

bool ZipArchiveFile::Open(const char16_t* path) {
  return OpenCallback(this, path, ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING) != nullptr;
}

void ZipArchiveFile::Close() {
  if (m_file.IsOpen()) CloseCallback(this, this);
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

voidpf ZCALLBACK ZipArchiveFile::OpenCallback(voidpf opaque, const void* filename, int mode) {
  ZipArchiveFile* self = Self(opaque);
  // One archive per object, read only: minizip opens its file once.
  if (self->m_file.IsOpen() || filename == nullptr ||
      (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) {
    return nullptr;
  }
  if (!self->m_file.Open(static_cast<const char16_t*>(filename)) ||
      !self->m_file.GetSize(&self->m_size)) {
    self->m_file.Close();
    return nullptr;
  }
  self->m_position = 0;
  self->m_failed = false;
  self->m_bufferLength = 0;
  return self;
}

uLong ZCALLBACK ZipArchiveFile::ReadCallback(voidpf opaque, voidpf, void* buffer, uLong size) {
  ZipArchiveFile* self = Self(opaque);
  const std::int64_t n = self->ReadBuffered(
      self->m_position, static_cast<std::uint8_t*>(buffer),
      static_cast<std::uint32_t>(std::min<uLong>(size, std::numeric_limits<std::uint32_t>::max())));
  if (n < 0) {
    self->m_failed = true;
    return 0;
  }
  self->m_position += static_cast<std::uint64_t>(n);
  return static_cast<uLong>(n);
}

uLong ZCALLBACK ZipArchiveFile::WriteCallback(voidpf, voidpf, const void*, uLong) {
  return 0;  // archives are only read
}

ZPOS64_T ZCALLBACK ZipArchiveFile::TellCallback(voidpf opaque, voidpf) {
  return Self(opaque)->m_position;
}

long ZCALLBACK ZipArchiveFile::SeekCallback(voidpf opaque, voidpf, ZPOS64_T offset, int origin) {
  ZipArchiveFile* self = Self(opaque);
  std::uint64_t base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      base = self->m_position;
      break;
    case ZLIB_FILEFUNC_SEEK_END:
      base = self->m_size;
      break;
    default:
      return -1;
  }
  if (offset > std::numeric_limits<std::uint64_t>::max() - base) return -1;
  // Like a seek of the system, one past the end succeeds; reading there finds nothing.
  self->m_position = base + offset;
  return 0;
}

int ZCALLBACK ZipArchiveFile::CloseCallback(voidpf opaque, voidpf) {
  ZipArchiveFile* self = Self(opaque);
  self->m_file.Close();
  self->m_bufferLength = 0;
  return 0;
}

int ZCALLBACK ZipArchiveFile::ErrorCallback(voidpf opaque, voidpf) {
  return Self(opaque)->m_failed ? 1 : 0;
}

}  // namespace tarvo
