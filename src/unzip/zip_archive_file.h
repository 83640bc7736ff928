#pragma once
// The archive file under the zip reader.
//
// The end record, the central directory and the local headers are read a few dozen bytes at a
// time; they are served from a small buffer of the file's bytes. An item's data is read past
// that buffer, in blocks as large as the caller's, at the offsets it names.

#include <cstdint>
#include <memory>

#include "platform/archive_file.h"

namespace tarvo {

class ZipArchiveFile {
 public:
  ZipArchiveFile();
  ZipArchiveFile(const ZipArchiveFile&) = delete;
  ZipArchiveFile& operator=(const ZipArchiveFile&) = delete;

  // Opens the file at `path` for reading, closing the one open before. False when it cannot be
  // opened or its size cannot be had.
  bool Open(const char16_t* path);
  void Close();

  // Reads exactly `size` bytes from `offset` of the open file, through the small buffer. False
  // when they cannot all be read or no file is open.
  bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t size);
  // Reads up to `size` bytes from `offset` of the open file straight into `buffer`: all of them
  // unless the file ends first. Returns how many, or -1 when the system fails or no file is
  // open.
  std::int64_t ReadBlock(std::uint64_t offset, void* buffer, std::uint32_t size);
  // The size of the open file, or 0 when none is open.
  std::uint64_t Size();

 private:
  // Copies up to `size` bytes from `offset` into `buffer`, from the buffer where it holds them
  // and refilling it where not: fewer only where the file ends; -1 when the system fails.
  std::int64_t ReadBuffered(std::uint64_t offset, std::uint8_t* buffer, std::uint32_t size);

  CArchiveFile m_file;
  std::uint64_t m_size = 0;
  // Bytes of the file from m_bufferStart on, m_bufferLength of them: what the last refill read.
  // One small window, refilled where a read falls outside it: a header is read in one system
  // call, and bytes are never served long after they were read (a record not read from the
  // archive for a while is read from it again).
  std::unique_ptr<std::uint8_t[]> m_buffer;
  std::uint64_t m_bufferStart = 0;
  std::uint32_t m_bufferLength = 0;
};

}  // namespace tarvo
