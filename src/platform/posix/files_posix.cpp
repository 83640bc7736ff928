// Files and directories on POSIX.

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/posix/last_error.h"
#include "platform/posix/native_path.h"
#include "platform/posix/spawn_gate.h"

namespace tarvo {

namespace {

// Copies `text` into a caller's buffer as the Win32 path functions do.
DWORD CopyOut(const std::u16string& text, char16_t* buffer, DWORD size, bool cut) {
  if (text.size() + 1 > size) {
    if (!cut) return static_cast<DWORD>(text.size() + 1);
    if (size == 0) return 0;
    std::copy_n(text.begin(), size - 1, buffer);
    buffer[size - 1] = 0;
    return size - 1;
  }
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
  return static_cast<DWORD>(text.size());
}

// TRUE, or FALSE with the last error noted from errno.
BOOL Succeeded(bool ok) {
  if (!ok) SetLastErrorFromErrno(errno);
  return ok ? TRUE : FALSE;
}

}  // namespace

DWORD GetModuleFileNameW(std::nullptr_t, char16_t* buffer, DWORD size) {
  // A path may be longer than PATH_MAX; readlink fills the buffer when it is cut.
  std::vector<char> path(PATH_MAX + 1);
  ssize_t n = 0;
  for (;;) {
    n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0) return 0;
    if (static_cast<std::size_t>(n) < path.size() || path.size() >= (std::size_t{1} << 20)) break;
    path.resize(path.size() * 2);
  }
  if (static_cast<std::size_t>(n) == path.size()) return 0;
  const std::u16string text = CorePath(std::string_view(path.data(), static_cast<std::size_t>(n)));
  if (size == 0) return 0;
  if (text.size() + 1 > size) {
    CopyOut(text, buffer, size, true);
    return size;
  }
  return CopyOut(text, buffer, size, false);
}

DWORD GetCurrentDirectoryW(DWORD size, char16_t* buffer) {
  std::vector<char> path(PATH_MAX + 1);
  if (getcwd(path.data(), path.size()) == nullptr) return 0;
  return CopyOut(CorePath(path.data()), buffer, size, false);
}

BOOL SetCurrentDirectoryW(const char16_t* path) {
  return chdir(NativePath(path).c_str()) == 0 ? TRUE : FALSE;
}

BOOL PathFileExistsW(const char16_t* path) {
  struct stat st {};
  return stat(NativePath(path).c_str(), &st) == 0 ? TRUE : FALSE;
}

BOOL CanReadFile(const char16_t* path) {
  const std::string native = NativePath(path);
  struct stat st {};
  if (stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return FALSE;
  const int fd = open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FALSE;
  close(fd);
  return TRUE;
}

DWORD GetFileAttributesW(const char16_t* path) {
  struct stat st {};
  if (stat(NativePath(path).c_str(), &st) != 0) return INVALID_FILE_ATTRIBUTES;
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

DWORD GetLinkAttributesW(const char16_t* path) {
  struct stat st {};
  if (lstat(NativePath(path).c_str(), &st) != 0) return INVALID_FILE_ATTRIBUTES;
  if (!S_ISLNK(st.st_mode)) return GetFileAttributesW(path);
  const DWORD target = GetFileAttributesW(path);
  return FILE_ATTRIBUTE_REPARSE_POINT |
         (target != INVALID_FILE_ATTRIBUTES ? target & FILE_ATTRIBUTE_DIRECTORY : 0);
}

BOOL CreateDirectoryW(const char16_t* path) {
  return Succeeded(mkdir(NativePath(path).c_str(), 0777) == 0);
}

BOOL SetFileAttributesW(const char16_t* path, DWORD attributes) {
  const std::string native = NativePath(path);
  struct stat st {};
  if (stat(native.c_str(), &st) != 0) return Succeeded(false);
  const mode_t mode =
      (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? st.st_mode & 07555 : st.st_mode | S_IWUSR;
  return Succeeded(chmod(native.c_str(), mode & 07777) == 0);
}

BOOL DeleteFileW(const char16_t* path) {
  // unlink removes no directory: Linux answers EISDIR, others EPERM.
  return Succeeded(unlink(NativePath(path).c_str()) == 0);
}

BOOL RemoveDirectoryW(const char16_t* path) {
  return Succeeded(rmdir(NativePath(path).c_str()) == 0);
}

BOOL GetDiskFreeSpaceExW(const char16_t* path, std::uint64_t* freeBytesAvailable) {
  struct statvfs st {};
  if (statvfs(NativePath(path).c_str(), &st) != 0) return Succeeded(false);
  *freeBytesAvailable = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
  return TRUE;
}

namespace {

// Seconds from 1601-01-01 (FILETIME's epoch) to 1970-01-01.
constexpr std::uint64_t kUnixEpochSeconds = 11644473600ull;

std::uint64_t FileTimeOf(const struct timespec& time) {
  if (time.tv_sec < -static_cast<std::int64_t>(kUnixEpochSeconds)) return 0;
  return (static_cast<std::uint64_t>(time.tv_sec + static_cast<std::int64_t>(kUnixEpochSeconds))) *
             10000000ull +
         static_cast<std::uint64_t>(time.tv_nsec) / 100;
}

}  // namespace

BOOL GetFileWriteTime(const char16_t* path, std::uint64_t* time) {
  struct stat st {};
  if (stat(NativePath(path).c_str(), &st) != 0) return Succeeded(false);
  *time = FileTimeOf(st.st_mtim);
  return TRUE;
}

std::uint64_t GetSystemTimeAsFileTime() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return FileTimeOf(now);
}

BOOL MoveFileExW(const char16_t* from, const char16_t* to, DWORD flags) {
  const std::string target = NativePath(to);
  if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) {
    struct stat st {};
    if (lstat(target.c_str(), &st) == 0) {
      SetLastErrorFromErrno(EEXIST);
      return FALSE;
    }
  }
  return Succeeded(std::rename(NativePath(from).c_str(), target.c_str()) == 0);
}

namespace {

// Opens `path` for reading with `flags` and has `flush` put it, or its file system, on the disk.
BOOL FlushOpened(const char16_t* path, int flags, int (*flush)(int)) {
  const int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | flags);
  if (fd < 0) return Succeeded(false);
  const bool flushed = flush(fd) == 0;
  const int error = errno;
  close(fd);
  errno = error;
  return Succeeded(flushed);
}

}  // namespace

BOOL FlushFolder(const char16_t* path) { return FlushOpened(path, O_DIRECTORY, &fsync); }

BOOL FlushFileSystem(const char16_t* path) { return FlushOpened(path, 0, &syncfs); }

struct CFile::Impl {
  int fd = -1;
  std::string path;  // for Delete
  ~Impl() {
    if (fd >= 0) close(fd);
  }
};

namespace {

// Notes `error` as the last error and throws it, as Windows numbers it.
[[noreturn]] void ThrowFileError(int error) {
  SetLastErrorFromErrno(error);
  throw CFileException(static_cast<long>(GetLastError()));
}

// Takes the exclusive lock of the file open at `fd`. 1: held, and the file is still the one
// at `path`; 0: it was deleted or replaced meanwhile; -1: failed (another holds it, or worse).
int LockExclusive(int fd, const std::string& path) {
  // Not while a child being spawned holds copies of this process's earlier descriptors.
  const std::shared_lock<std::shared_mutex> gate(SpawnGate());
  // flock, not fcntl: a lock of this process's own other descriptor keeps it out too.
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) {
      SetLastErrorFromErrno(ETXTBSY);  // ERROR_SHARING_VIOLATION
    } else {
      SetLastErrorFromErrno(errno);
    }
    return -1;
  }
  struct stat opened {};
  struct stat named {};
  if (fstat(fd, &opened) != 0) {
    SetLastErrorFromErrno(errno);
    return -1;
  }
  return stat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
                 named.st_ino == opened.st_ino
             ? 1
             : 0;
}

}  // namespace

CFile::CFile() = default;

CFile::CFile(const char16_t* path, UINT flags) {
  if (!Open(path, flags)) throw CFileException(static_cast<long>(GetLastError()));
}

CFile::~CFile() = default;

BOOL CFile::Open(const char16_t* path, UINT flags) {
  Close();
  int oflags = O_CLOEXEC | ((flags & modeNoFollow) ? O_NOFOLLOW : 0);
  if (flags & modeReadWrite) {
    oflags |= O_RDWR;
  } else if (flags & modeWrite) {
    oflags |= O_WRONLY;
  } else {
    oflags |= O_RDONLY;
  }
  const bool exclusive = (flags & shareExclusive) != 0;
  const bool truncate =
      (flags & modeCreate) && !(flags & modeNoTruncate) && !(flags & modeCreateNew);
  if (flags & modeCreateNew) {
    oflags |= O_CREAT | O_EXCL;
  } else if (flags & modeCreate) {
    oflags |= O_CREAT;
    // A file held by another is not to be emptied: it is cut once the lock is had.
    if (truncate && !exclusive) oflags |= O_TRUNC;
  }
  auto impl = std::make_unique<Impl>();
  impl->path = NativePath(path);
  for (int attempt = 0;; ++attempt) {
    impl->fd = open(impl->path.c_str(), oflags, 0666);
    if (impl->fd < 0) return Succeeded(false);
    if (!exclusive) break;
    const int locked = LockExclusive(impl->fd, impl->path);
    if (locked < 0) return FALSE;
    if (locked > 0) break;
    // Deleted or replaced between the open and the lock: the name means another file now.
    close(impl->fd);
    impl->fd = -1;
    if (attempt >= 16 || (oflags & O_CREAT) == 0) {
      SetLastErrorFromErrno(ENOENT);
      return FALSE;
    }
  }
  if (exclusive && truncate && ftruncate(impl->fd, 0) != 0) return Succeeded(false);
  m_impl = std::move(impl);
  return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
  if (!IsOpen()) ThrowFileError(EBADF);
  for (;;) {
    const ssize_t n = read(m_impl->fd, buffer, count);
    if (n >= 0) return static_cast<UINT>(n);
    if (errno != EINTR) ThrowFileError(errno);
  }
}

void CFile::Write(const void* buffer, UINT count) {
  if (!IsOpen()) ThrowFileError(EBADF);
  const char* p = static_cast<const char*>(buffer);
  while (count > 0) {
    const ssize_t n = write(m_impl->fd, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(errno);
    }
    p += n;
    count -= static_cast<UINT>(n);
  }
}

std::uint64_t CFile::GetLength() const {
  struct stat st {};
  if (!IsOpen()) ThrowFileError(EBADF);
  if (fstat(m_impl->fd, &st) != 0) ThrowFileError(errno);
  return static_cast<std::uint64_t>(st.st_size);
}

std::uint64_t CFile::Seek(std::int64_t offset, UINT from) {
  if (!IsOpen()) ThrowFileError(EBADF);
  const int whence = from == end ? SEEK_END : from == current ? SEEK_CUR : SEEK_SET;
  const off_t position = lseek(m_impl->fd, static_cast<off_t>(offset), whence);
  if (position < 0) ThrowFileError(errno);
  return static_cast<std::uint64_t>(position);
}

void CFile::Flush() {
  if (!IsOpen()) ThrowFileError(EBADF);
  if (fsync(m_impl->fd) != 0) ThrowFileError(errno);
}

void CFile::SetLength(std::uint64_t length) {
  if (!IsOpen()) ThrowFileError(EBADF);
  if (length > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) ThrowFileError(EFBIG);
  while (ftruncate(m_impl->fd, static_cast<off_t>(length)) != 0) {
    if (errno != EINTR) ThrowFileError(errno);
  }
}

void CFile::Close() {
  if (!m_impl) return;
  const int fd = m_impl->fd;
  m_impl->fd = -1;
  m_impl.reset();
  if (fd >= 0 && close(fd) != 0) ThrowFileError(errno);
}

bool CFile::Delete() {
  if (!IsOpen()) return false;
  // Unlinked while still open, and so still locked: nobody takes the name's old file meanwhile.
  const bool deleted = unlink(m_impl->path.c_str()) == 0;
  if (!deleted) SetLastErrorFromErrno(errno);
  m_impl.reset();
  return deleted;
}

bool CFile::IsOpen() const { return m_impl && m_impl->fd >= 0; }

struct CFolderLock::Impl {
  int fd = -1;
  ~Impl() {
    if (fd >= 0) close(fd);  // releases the lock
  }
};

CFolderLock::CFolderLock() = default;
CFolderLock::~CFolderLock() = default;

bool CFolderLock::Lock(const char16_t* path, DWORD timeoutMs) {
  m_impl.reset();
  auto impl = std::make_unique<Impl>();
  impl->fd = open(NativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (impl->fd < 0) return Succeeded(false) != FALSE;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // flock, not fcntl: a lock of this process's own other descriptor keeps it out too.
  while (flock(impl->fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return Succeeded(false) != FALSE;
    if (std::chrono::steady_clock::now() >= deadline) {
      SetLastErrorFromErrno(EWOULDBLOCK);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  m_impl = std::move(impl);
  return true;
}

}  // namespace tarvo
