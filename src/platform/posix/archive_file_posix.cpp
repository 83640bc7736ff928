// Archives read with pread on POSIX.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/archive_file.h"
#include "platform/posix/native_path.h"

namespace tarvo {

struct CArchiveFile::Impl {
  int fd = -1;
  ~Impl() {
    if (fd >= 0) close(fd);
  }
};

CArchiveFile::CArchiveFile() = default;
CArchiveFile::~CArchiveFile() = default;

bool CArchiveFile::Open(const char16_t* path) noexcept {
  Close();
  try {
    auto impl = std::make_unique<Impl>();
    impl->fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (impl->fd < 0) return false;
    // A larger read-ahead for the data, which is read in order.
    posix_fadvise(impl->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    m_impl = std::move(impl);
    return true;
  } catch (...) {
    return false;
  }
}

void CArchiveFile::Close() noexcept { m_impl.reset(); }

bool CArchiveFile::IsOpen() const noexcept { return m_impl != nullptr; }

bool CArchiveFile::ReadAt(std::uint64_t offset, void* buffer, DWORD size, DWORD* read) noexcept {
  *read = 0;
  if (!m_impl) return false;
  auto* const bytes = static_cast<char*>(buffer);
  while (*read < size) {
    const ssize_t n =
        pread(m_impl->fd, bytes + *read, size - *read, static_cast<off_t>(offset + *read));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;  // the end of the file
    *read += static_cast<DWORD>(n);
  }
  return true;
}

bool CArchiveFile::GetSize(std::uint64_t* size) noexcept {
  struct stat st {};
  if (!m_impl || fstat(m_impl->fd, &st) != 0) return false;
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

}  // namespace tarvo
