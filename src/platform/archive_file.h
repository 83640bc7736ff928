#pragma once
// Archives read by the zip reader: at the offsets it names, in blocks as large as it asks for.

#include <cstdint>
#include <memory>

#include "platform/types.h"

namespace tarvo {

// An existing file opened for reading only; other processes may read it meanwhile but not write
// it (Win32; POSIX has no such sharing rule). Every read names its offset, so no seek is ever
// made, and the system is told that the file is read mostly from start to end. No member
// throws.
class CArchiveFile {
 public:
  CArchiveFile();
  CArchiveFile(const CArchiveFile&) = delete;
  CArchiveFile& operator=(const CArchiveFile&) = delete;
  ~CArchiveFile();

  // Opens the file at `path` (UTF-16; "\" or "/" separate), closing the one open before. False
  // when it cannot be opened, or memory for the path cannot be had.
  bool Open(const char16_t* path) noexcept;
  void Close() noexcept;
  bool IsOpen() const noexcept;

  // Reads up to `size` bytes from `offset` into `buffer`: all of them unless the file ends
  // first. `*read` says how many were read. False on a failure of the system (nothing to be
  // relied on is in `buffer` then), or when no file is open.
  bool ReadAt(std::uint64_t offset, void* buffer, DWORD size, DWORD* read) noexcept;
  // The size of the file; false when it cannot be had.
  bool GetSize(std::uint64_t* size) noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace tarvo
