#pragma once
// The archive file under minizip, and under the reading of item data.
//
// minizip reads the end record, the central directory and the local headers through the
// functions given here, a few bytes at a time, each after a seek; they are served from a small
// buffer of the file's bytes, and a seek only moves a position kept here. An item's data is
// read past that buffer, in blocks as large as the caller's, at the offsets it names.

#include <minizip/ioapi.h>

#include <cstdint>
#include <memory>

#include "platform/archive_file.h"

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

  // Reads exactly `size` bytes from `offset` of the open file, through the buffer that serves
  // minizip. False when they cannot all be read or no file is open.
  bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size);
  // Reads up to `size` bytes from `offset` of the open file straight into `buffer`: all of them
  // unless the file ends first. Returns how many, or -1 when the system fails or no file is
  // open.
  std::int64_t ReadBlock(std::uint64_t offset, void* buffer, std::uint32_t size);
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

  // Copies up to `size` bytes from `offset` into `buffer`, from the buffer where it holds them
  // and refilling it where not: fewer only where the file ends; -1 when the system fails.
  std::int64_t ReadBuffered(std::uint64_t offset, std::uint8_t* buffer, std::uint32_t size);

  CArchiveFile m_file;
  std::uint64_t m_size = 0;
  // minizip's position in the file, and whether a read of it failed.
  std::uint64_t m_position = 0;
  bool m_failed = false;
  // Bytes of the file from m_bufferStart on, m_bufferLength of them: what the last refill read.
  // One small window, refilled where a read falls outside it: a header is read in one system
  // call, and bytes are never served long after they were read (a record not read from the
  // archive for a while is read from it again).
  std::unique_ptr<std::uint8_t[]> m_buffer;
  std::uint64_t m_bufferStart = 0;
  std::uint32_t m_bufferLength = 0;
};

}  // namespace tarvo
