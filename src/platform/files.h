#pragma once
// Files, directories and the paths of the running program.
//
// Paths are UTF-16. On POSIX a "\" in any path handed to this layer separates components like
// "/", and every path this layer returns uses "\" (the Windows form), so that the core builds
// paths one way on both builds.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/exceptions.h"
#include "platform/types.h"

namespace tarvo {

inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;

// Writes the full path of the running executable into `buffer` (at most `size` units with the
// terminating NUL) and returns its length without the NUL. A path that does not fit is cut to
// `size` - 1 units, and `size` is returned (0 on failure).
DWORD GetModuleFileNameW(std::nullptr_t module, char16_t* buffer, DWORD size);

// Writes the current directory into `buffer` and returns its length without the NUL; when it
// does not fit, returns the size needed (with the NUL) and leaves the buffer as it was.
DWORD GetCurrentDirectoryW(DWORD size, char16_t* buffer);
BOOL SetCurrentDirectoryW(const char16_t* path);

// True exactly when a file or directory exists at `path`.
BOOL PathFileExistsW(const char16_t* path);
// True when `path` names a file (no directory, no device) that this process can open for
// reading. Opening it does not wait, whatever stands there.
BOOL CanReadFile(const char16_t* path);
// The attributes (FILE_ATTRIBUTE_*) of what stands at `path`, or INVALID_FILE_ATTRIBUTES.
// POSIX: directory, and read-only when the owner may not write; nothing else.
DWORD GetFileAttributesW(const char16_t* path);
// Creates one directory. False when it cannot (it exists, or its parent does not).
BOOL CreateDirectoryW(const char16_t* path);
// Deletes a file (not a directory). False when it cannot.
BOOL DeleteFileW(const char16_t* path);
// Renames a file; with MOVEFILE_REPLACE_EXISTING an existing target is replaced at once.
BOOL MoveFileExW(const char16_t* from, const char16_t* to, DWORD flags);

// A file opened by path. Operations throw CFileException on failure.
class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareDenyWrite = 0x0020,
    modeCreate = 0x1000,      // create, or truncate an existing file
    modeCreateNew = 0x10000,  // create a new file; fails when something stands at the path
  };
  enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

  CFile();
  // Opens `path`; throws CFileException when it cannot.
  CFile(const char16_t* path, UINT flags);
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  ~CFile();

  // Opens `path`; returns FALSE when it cannot.
  BOOL Open(const char16_t* path, UINT flags);
  // Reads at most `count` bytes; returns how many were read, 0 at the end.
  UINT Read(void* buffer, UINT count);
  // Writes all `count` bytes or throws.
  void Write(const void* buffer, UINT count);
  std::uint64_t GetLength() const;
  // Moves the position to `offset` from `from`; returns the new position. Throws on failure.
  std::uint64_t Seek(std::int64_t offset, UINT from);
  void Close();
  bool IsOpen() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// A directory search by pattern ("folder\*.zip", or a plain path). After FindFile succeeds,
// each FindNextFile moves to the next match; it returns FALSE when the match it moved to is
// the last one (that match is still current).
//
// POSIX: the wildcard match ignores letter case, and matches come in case-insensitive
// ordinal order of their names, as NTFS returns them.
class CFileFind {
 public:
  CFileFind();
  CFileFind(const CFileFind&) = delete;
  CFileFind& operator=(const CFileFind&) = delete;
  ~CFileFind();

  BOOL FindFile(const char16_t* pattern, DWORD flags = 0);
  BOOL FindNextFile();
  void Close();

  std::u16string GetFileName() const;
  // The search folder made absolute, followed by the file name.
  std::u16string GetFilePath() const;
  BOOL IsDots() const;
  BOOL IsDirectory() const;
  BOOL MatchesMask(DWORD mask) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace tarvo
