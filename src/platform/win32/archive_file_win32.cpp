// Archives read with ReadFile at explicit offsets on Win32.

#include "platform/archive_file.h"
#include "platform/win32/win32_sys.h"

namespace tarvo {

struct CArchiveFile::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~Impl() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

CArchiveFile::CArchiveFile() = default;
CArchiveFile::~CArchiveFile() = default;

bool CArchiveFile::Open(const char16_t* path) noexcept {
  Close();
  try {
    auto impl = std::make_unique<Impl>();
    // The data is read in order: the cache manager reads further ahead for such a file.
    impl->handle = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (impl->handle == INVALID_HANDLE_VALUE) return false;
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
    // On a handle opened for synchronous reading, the offset in OVERLAPPED is where the read
    // starts: no SetFilePointer before it.
    const std::uint64_t at = offset + *read;
    OVERLAPPED position{};
    position.Offset = static_cast<::DWORD>(at & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<::DWORD>(at >> 32);
    ::DWORD n = 0;
    if (!ReadFile(m_impl->handle, bytes + *read, size - *read, &n, &position)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return false;
    }
    if (n == 0) break;  // the end of the file
    *read += n;
  }
  return true;
}

bool CArchiveFile::GetSize(std::uint64_t* size) noexcept {
  LARGE_INTEGER value{};
  if (!m_impl || !GetFileSizeEx(m_impl->handle, &value)) return false;
  *size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

}  // namespace tarvo
