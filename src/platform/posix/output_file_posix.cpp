// Extraction output on POSIX.

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/output_file.h"
#include "platform/posix/last_error.h"
#include "platform/posix/native_path.h"

namespace tarvo {

namespace {

constexpr std::uint64_t kIntervalsPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

timespec ToTimespec(std::uint64_t fileTime) {
  timespec result{};
  if (fileTime == 0) {
    result.tv_nsec = UTIME_OMIT;
    return result;
  }
  result.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(fileTime / kIntervalsPerSecond) -
                                      kSecondsFrom1601To1970);
  result.tv_nsec = static_cast<long>(fileTime % kIntervalsPerSecond) * 100;
  return result;
}

}  // namespace

// Writing back is started every this many bytes written, as Windows' cache does by itself, so
// that a large file is mostly on the disk when it is flushed.
constexpr std::uint64_t kWriteBackEvery = 8 << 20;

struct COutputFile::Impl {
  int fd = -1;
  std::uint64_t written = 0;  // bytes written
  std::uint64_t started = 0;  // bytes whose writing back was started
  // Starts writing back what was written since the last start; only a start, which a file
  // system may refuse: the file is flushed all the same when the file system is.
  void StartWriteBack() {
    sync_file_range(fd, static_cast<off_t>(started), 0, SYNC_FILE_RANGE_WRITE);
    started = written;
  }
  ~Impl() {
    if (fd >= 0) close(fd);
  }
};

COutputFile::COutputFile() = default;
COutputFile::~COutputFile() = default;

bool COutputFile::Create(const char16_t* path, DWORD attributes, const char16_t* permissionsOf) {
  Close();
  const std::string native = NativePath(path);
  // As a rule nothing stands there yet, and the file is made at once.
  int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) {
    struct stat st {};
    // Windows refuses to replace a read-only file even for an administrator; so does this,
    // where root could otherwise write over it.
    if (stat(native.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR) == 0)) {
      SetLastErrorFromErrno(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
      return false;
    }
    fd = open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  }
  if (fd < 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  m_impl = std::make_unique<Impl>();
  m_impl->fd = fd;
  // The mode the file has, unless the file it replaces or the read-only attribute says
  // otherwise.
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  struct stat st {};
  if (permissionsOf != nullptr && stat(NativePath(permissionsOf).c_str(), &st) == 0 &&
      S_ISREG(st.st_mode)) {
    // The descriptor keeps its write access whatever the mode; only later openers are refused.
    fchmod(fd, readOnly ? st.st_mode & 07555 : st.st_mode & 07777);
  } else if (readOnly && fstat(fd, &st) == 0) {
    fchmod(fd, st.st_mode & 07555);
  }
  return true;
}

bool COutputFile::Write(const void* data, DWORD size) {
  if (!m_impl) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(m_impl->fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastErrorFromErrno(errno);
      return false;
    }
    p += n;
    size -= static_cast<DWORD>(n);
    m_impl->written += static_cast<std::uint64_t>(n);
  }
  if (m_impl->written - m_impl->started >= kWriteBackEvery) m_impl->StartWriteBack();
  return true;
}

void COutputFile::SetFileTime(std::uint64_t, std::uint64_t access, std::uint64_t modification) {
  if (!m_impl) return;
  const timespec times[2] = {ToTimespec(access), ToTimespec(modification)};
  futimens(m_impl->fd, times);
}

bool COutputFile::Flush() {
  if (!m_impl) return false;
  // The writing back overlaps the extraction of the next items; FlushFileSystem waits for it.
  m_impl->StartWriteBack();
  return true;
}

bool COutputFile::Close() {
  if (!m_impl) return true;
  const int fd = m_impl->fd;
  m_impl->fd = -1;
  m_impl.reset();
  if (close(fd) == 0 || errno == EINTR) return true;
  SetLastErrorFromErrno(errno);
  return false;
}

BOOL LocalFileTimeToFileTime(std::uint64_t local, std::uint64_t* utc) {
  const time_t now = time(nullptr);
  tm parts{};
  if (localtime_r(&now, &parts) == nullptr) return FALSE;
  const std::int64_t offset =
      static_cast<std::int64_t>(parts.tm_gmtoff) * static_cast<std::int64_t>(kIntervalsPerSecond);
  if (offset > 0 && local < static_cast<std::uint64_t>(offset)) return FALSE;
  if (offset < 0 &&
      local > std::numeric_limits<std::uint64_t>::max() - static_cast<std::uint64_t>(-offset)) {
    return FALSE;
  }
  *utc = local - static_cast<std::uint64_t>(offset);
  return TRUE;
}

}  // namespace tarvo
