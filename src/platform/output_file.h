#pragma once
// Files written by extraction, and the local-time conversion of their times.

#include <cstdint>
#include <memory>

#include "platform/types.h"

namespace tarvo {

// A file created for writing, as CreateFileW does with CREATE_ALWAYS and no sharing.
//
// POSIX: the read-only attribute clears every write permission bit; hidden, system and archive
// have no meaning there and are ignored. Other openers are not kept out.
class COutputFile {
 public:
  COutputFile();
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;
  ~COutputFile();

  // Creates `path`, replacing and emptying a file that stands there, and gives it `attributes`
  // (FILE_ATTRIBUTE_READONLY, _HIDDEN, _SYSTEM, _ARCHIVE). False, with GetLastError telling
  // why, when it cannot: a directory or a read-only file of that name exists, its folder is
  // missing, the name is invalid (and on Win32 also an existing hidden or system file that
  // `attributes` lacks), or the system refuses (no space, no permission, ...). POSIX: the file
  // takes the permission bits of the file at `permissionsOf` when one stands there (null: the
  // usual ones), so that a file that replaces another keeps its executable bits.
  bool Create(const char16_t* path, DWORD attributes, const char16_t* permissionsOf = nullptr);
  // Appends all `size` bytes. False, with GetLastError telling why, when they could not all be
  // written.
  bool Write(const void* data, DWORD size);
  // Sets the file's times, in 100-nanosecond intervals since 1601-01-01 UTC; a time of 0 leaves
  // that time as it is. POSIX has no creation time; the result is not reported.
  void SetFileTime(std::uint64_t creation, std::uint64_t access, std::uint64_t modification);
  // Hands what was written to the disk. Win32: FlushFileBuffers, the data is on the disk when it
  // returns. POSIX: starts writing it back and returns; FlushFileSystem waits for it, for all the
  // files written meanwhile at once, which costs far less than a flush of each. False, with
  // GetLastError telling why, when the system reports a failure.
  bool Flush();
  // Closes the file. False, with GetLastError telling why, when the system reports a failure on
  // closing (data not written).
  bool Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Converts a local time to UTC, both in 100-nanosecond intervals since 1601-01-01, with the
// offset of the local time zone in force now (daylight saving included), not the one in force
// at that time, as LocalFileTimeToFileTime does. False when the result is out of range.
BOOL LocalFileTimeToFileTime(std::uint64_t local, std::uint64_t* utc);

}  // namespace tarvo
