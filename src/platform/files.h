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

// Error numbers of file operations, Windows' own (POSIX maps errno onto the nearest).
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_WRITE_PROTECT = 19;
inline constexpr DWORD ERROR_NOT_READY = 21;
inline constexpr DWORD ERROR_CRC = 23;
inline constexpr DWORD ERROR_WRITE_FAULT = 29;
inline constexpr DWORD ERROR_READ_FAULT = 30;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_LOCK_VIOLATION = 33;
inline constexpr DWORD ERROR_HANDLE_DISK_FULL = 39;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_FILE_TOO_LARGE = 223;
inline constexpr DWORD ERROR_IO_DEVICE = 1117;
inline constexpr DWORD ERROR_DISK_QUOTA_EXCEEDED = 1295;

// The error of the calling thread's last failed file operation of this layer.
DWORD GetLastError();

// Writes the full path of the running executable into `buffer` (at most `size` units with the
// terminating NUL) and returns its length without the NUL. A path that does not fit is cut to
// `size` - 1 units, and `size` is returned (0 on failure).
DWORD GetModuleFileNameW(std::nullptr_t module, char16_t* buffer, DWORD size);

// The whole path of the running executable, however long; empty when the system does not give
// it whole.
std::u16string GetModulePath();

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
// The attributes of what stands at `path` itself, a link not followed: with
// FILE_ATTRIBUTE_REPARSE_POINT for a link (Win32: a reparse point; POSIX: a symbolic link, with
// FILE_ATTRIBUTE_DIRECTORY when it leads to a folder, as Windows marks a folder's link), else as
// GetFileAttributesW gives them; INVALID_FILE_ATTRIBUTES when nothing stands there.
DWORD GetLinkAttributesW(const char16_t* path);
// Creates one directory. False when it cannot (it exists, or its parent does not).
BOOL CreateDirectoryW(const char16_t* path);
// Sets a file's read-only attribute (the only one POSIX knows: it clears or gives back the
// owner's write permission); the others are kept on Win32. False when it cannot.
BOOL SetFileAttributesW(const char16_t* path, DWORD attributes);
// Deletes a file (not a directory). False when it cannot.
BOOL DeleteFileW(const char16_t* path);
// Removes an empty directory. False when it cannot (it holds something, or is no directory).
BOOL RemoveDirectoryW(const char16_t* path);
// Renames a file; with MOVEFILE_REPLACE_EXISTING an existing target is replaced at once.
BOOL MoveFileExW(const char16_t* from, const char16_t* to, DWORD flags);
// Puts on the disk the entries of the folder at `path` (the names of files just renamed or
// made in it), where the system does not do so by itself: POSIX fsync of the folder; on Win32
// NTFS journals them, and nothing is done. False when the system reports a failure.
BOOL FlushFolder(const char16_t* path);
// Puts on the disk what this process wrote and renamed on the file system that holds `path`
// but did not flush file by file: POSIX syncfs, one call however many files were written
// (COutputFile::Flush only starts their writing back); Win32 nothing, as COutputFile::Flush
// has put each file on the disk. False when the system reports a failure.
BOOL FlushFileSystem(const char16_t* path);

// The free space of the volume that holds the folder `path`, in bytes this process may use.
// False when it cannot be had.
BOOL GetDiskFreeSpaceExW(const char16_t* path, std::uint64_t* freeBytesAvailable);

// The time a file was last written, in 100-nanosecond intervals since 1601-01-01 UTC; false
// when nothing stands at `path`.
BOOL GetFileWriteTime(const char16_t* path, std::uint64_t* time);
// The time now, in the same units.
std::uint64_t GetSystemTimeAsFileTime();

// A file opened by path. Operations throw CFileException on failure, with the error number as
// GetLastError gives it.
class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    // Held by this object alone until it closes: another open with shareExclusive, in this
    // process or another, fails with ERROR_SHARING_VIOLATION. Win32: no sharing at all, so
    // nobody else opens or deletes it. POSIX: an exclusive flock, which only other exclusive
    // opens heed; an open that finds the file deleted or replaced under its name meanwhile
    // opens the new one.
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    modeCreate = 0x1000,      // create, or truncate an existing file
    modeNoTruncate = 0x2000,  // with modeCreate: an existing file is opened as it is
    modeCreateNew = 0x10000,  // create a new file; fails when something stands at the path
    // A link at the path itself (POSIX: a symbolic link; Win32: a reparse point) is not
    // followed: the open fails with ERROR_ACCESS_DENIED, and nothing it leads to is touched.
    modeNoFollow = 0x20000,
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
  // Puts what was written on the disk (fsync, FlushFileBuffers) or throws.
  void Flush();
  // Cuts or extends the file to `length` bytes; the position is left as it was.
  void SetLength(std::uint64_t length);
  void Close();
  // Deletes the open file and closes it. Of a file opened with shareExclusive, nobody else can
  // open it in between. False when it could not be deleted; it is closed all the same.
  bool Delete();
  bool IsOpen() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// An exclusive lock on a folder, which the system releases when the object goes or the process
// ends, however it ends. Locks of one folder keep each other out, in this process and others;
// nothing else in the folder is kept from anybody. Win32: a hidden file "tarvo.lock" in the
// folder, opened without sharing and gone once closed. POSIX: flock on the folder itself.
class CFolderLock {
 public:
  CFolderLock();
  CFolderLock(const CFolderLock&) = delete;
  CFolderLock& operator=(const CFolderLock&) = delete;
  ~CFolderLock();

  // Takes the lock of the folder at `path`, waiting up to `timeoutMs` while another holder has
  // it. False when it could not be had in that time, or not at all.
  bool Lock(const char16_t* path, DWORD timeoutMs);

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
