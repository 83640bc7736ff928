#pragma once
// The archive file under minizip. minizip reads it through the functions given here, which
// pass every call on to the platform's and keep the open stream, so that bytes minizip does
// not read at their true offset (the local extra field of an archive with data in front of
// it) can be read directly.

#include <minizip/ioapi.h>

#include <cstdint>

namespace tarvo {

class ZipArchiveFile {
 public:
  ZipArchiveFile();
  ZipArchiveFile(const ZipArchiveFile&) = delete;
  ZipArchiveFile& operator=(const ZipArchiveFile&) = delete;

  // The functions to hand to unzOpen2_64. They refer to this object, which must outlive the
  // archive opened with them.
  zlib_filefunc64_def Functions();

  // Opens the file at `path` for reading without minizip, and closes it again. One file at a
  // time: Open fails while one is open.
  bool Open(const char16_t* path);
  void Close();

  // Reads exactly `size` bytes from `offset` of the open file. False when they cannot all be
  // read or no file is open.
  bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size);
  // The size of the open file, or 0 when it cannot be had.
  std::uint64_t Size();

 private:
  static voidpf ZCALLBACK OpenCallback(voidpf opaque, const void* filename, int mode);
  static uLong ZCALLBACK ReadCallback(voidpf opaque, voidpf stream, void* buffer, uLong size);
  static uLong ZCALLBACK WriteCallback(voidpf opaque, voidpf stream, const void* buffer,
                                       uLong size);
  static ZPOS64_T ZCALLBACK TellCallback(voidpf opaque, voidpf stream);
  static long ZCALLBACK SeekCallback(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
  static int ZCALLBACK CloseCallback(voidpf opaque, voidpf stream);
  static int ZCALLBACK ErrorCallback(voidpf opaque, voidpf stream);

  zlib_filefunc64_def m_platform;
  voidpf m_stream = nullptr;
};

}  // namespace tarvo
