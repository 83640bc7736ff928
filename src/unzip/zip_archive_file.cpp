#include "unzip/zip_archive_file.h"

#include "platform/zip_file_functions.h"

namespace tarvo {

namespace {

ZipArchiveFile* Self(voidpf opaque) { return static_cast<ZipArchiveFile*>(opaque); }

}  // namespace

ZipArchiveFile::ZipArchiveFile() : m_platform{} { FillZipFileFunctions(&m_platform); }

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
  if (m_stream != nullptr) CloseCallback(this, m_stream);
}

std::uint64_t ZipArchiveFile::Size() {
  if (m_stream == nullptr ||
      m_platform.zseek64_file(m_platform.opaque, m_stream, 0, ZLIB_FILEFUNC_SEEK_END) != 0) {
    return 0;
  }
  const ZPOS64_T size = m_platform.ztell64_file(m_platform.opaque, m_stream);
  return size == static_cast<ZPOS64_T>(-1) ? 0 : size;
}

bool ZipArchiveFile::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size) {
  if (m_stream == nullptr) return false;
  if (m_platform.zseek64_file(m_platform.opaque, m_stream, offset, ZLIB_FILEFUNC_SEEK_SET) != 0) {
    return false;
  }
  return size == 0 || m_platform.zread_file(m_platform.opaque, m_stream, buffer, size) == size;
}

voidpf ZCALLBACK ZipArchiveFile::OpenCallback(voidpf opaque, const void* filename, int mode) {
  ZipArchiveFile* self = Self(opaque);
  // One archive per object: minizip opens its file once.
  if (self->m_stream != nullptr) return nullptr;
  self->m_stream = self->m_platform.zopen64_file(self->m_platform.opaque, filename, mode);
  return self->m_stream;
}

uLong ZCALLBACK ZipArchiveFile::ReadCallback(voidpf opaque, voidpf stream, void* buffer,
                                             uLong size) {
  return Self(opaque)->m_platform.zread_file(Self(opaque)->m_platform.opaque, stream, buffer, size);
}

uLong ZCALLBACK ZipArchiveFile::WriteCallback(voidpf, voidpf, const void*, uLong) {
  return 0;  // archives are only read
}

ZPOS64_T ZCALLBACK ZipArchiveFile::TellCallback(voidpf opaque, voidpf stream) {
  return Self(opaque)->m_platform.ztell64_file(Self(opaque)->m_platform.opaque, stream);
}

long ZCALLBACK ZipArchiveFile::SeekCallback(voidpf opaque, voidpf stream, ZPOS64_T offset,
                                            int origin) {
  return Self(opaque)->m_platform.zseek64_file(Self(opaque)->m_platform.opaque, stream, offset,
                                               origin);
}

int ZCALLBACK ZipArchiveFile::CloseCallback(voidpf opaque, voidpf stream) {
  ZipArchiveFile* self = Self(opaque);
  if (stream == self->m_stream) self->m_stream = nullptr;
  return self->m_platform.zclose_file(self->m_platform.opaque, stream);
}

int ZCALLBACK ZipArchiveFile::ErrorCallback(voidpf opaque, voidpf stream) {
  return Self(opaque)->m_platform.zerror_file(Self(opaque)->m_platform.opaque, stream);
}

}  // namespace tarvo
