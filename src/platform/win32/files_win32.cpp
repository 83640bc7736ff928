// Files and directories on Win32.

#include "platform/files.h"
#include "platform/win32/win32_sys.h"

#include <shlwapi.h>

namespace tarvo {

DWORD GetModuleFileNameW(std::nullptr_t, char16_t* buffer, DWORD size) {
  return ::GetModuleFileNameW(nullptr, Wide(buffer), size);
}

DWORD GetCurrentDirectoryW(DWORD size, char16_t* buffer) {
  return ::GetCurrentDirectoryW(size, Wide(buffer));
}

BOOL SetCurrentDirectoryW(const char16_t* path) { return ::SetCurrentDirectoryW(Wide(path)); }

BOOL PathFileExistsW(const char16_t* path) { return ::PathFileExistsW(Wide(path)); }

BOOL CanReadFile(const char16_t* path) {
  const ::DWORD attributes = ::GetFileAttributesW(Wide(path));
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return FALSE;
  }
  const HANDLE handle = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return FALSE;
  CloseHandle(handle);
  return TRUE;
}

DWORD GetFileAttributesW(const char16_t* path) { return ::GetFileAttributesW(Wide(path)); }

BOOL CreateDirectoryW(const char16_t* path) { return ::CreateDirectoryW(Wide(path), nullptr); }

BOOL DeleteFileW(const char16_t* path) { return ::DeleteFileW(Wide(path)); }

BOOL MoveFileExW(const char16_t* from, const char16_t* to, DWORD flags) {
  return ::MoveFileExW(Wide(from), Wide(to), flags);
}

struct CFile::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~Impl() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

CFile::CFile() = default;

CFile::CFile(const char16_t* path, UINT flags) {
  if (!Open(path, flags)) throw CFileException(static_cast<long>(GetLastError()));
}

CFile::~CFile() = default;

BOOL CFile::Open(const char16_t* path, UINT flags) {
  Close();
  DWORD access = GENERIC_READ;
  if (flags & modeReadWrite) {
    access = GENERIC_READ | GENERIC_WRITE;
  } else if (flags & modeWrite) {
    access = GENERIC_WRITE;
  }
  const DWORD share = (flags & shareDenyWrite) ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
  const DWORD disposition = (flags & modeCreateNew) ? CREATE_NEW
                            : (flags & modeCreate)  ? CREATE_ALWAYS
                                                    : OPEN_EXISTING;
  const HANDLE handle = CreateFileW(Wide(path), access, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return FALSE;
  m_impl = std::make_unique<Impl>();
  m_impl->handle = handle;
  return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
  ::DWORD read = 0;
  if (!IsOpen() || !ReadFile(m_impl->handle, buffer, count, &read, nullptr)) {
    throw CFileException(static_cast<long>(GetLastError()));
  }
  return read;
}

void CFile::Write(const void* buffer, UINT count) {
  ::DWORD written = 0;
  if (!IsOpen() || !WriteFile(m_impl->handle, buffer, count, &written, nullptr) ||
      written != count) {
    throw CFileException(static_cast<long>(GetLastError()));
  }
}

std::uint64_t CFile::GetLength() const {
  LARGE_INTEGER size{};
  if (!IsOpen() || !GetFileSizeEx(m_impl->handle, &size)) {
    throw CFileException(static_cast<long>(GetLastError()));
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::uint64_t CFile::Seek(std::int64_t offset, UINT from) {
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  LARGE_INTEGER position{};
  const ::DWORD method = from == end ? FILE_END : from == current ? FILE_CURRENT : FILE_BEGIN;
  if (!IsOpen() || !SetFilePointerEx(m_impl->handle, distance, &position, method)) {
    throw CFileException(static_cast<long>(GetLastError()));
  }
  return static_cast<std::uint64_t>(position.QuadPart);
}

void CFile::Close() {
  if (!m_impl) return;
  const HANDLE handle = m_impl->handle;
  m_impl->handle = INVALID_HANDLE_VALUE;
  m_impl.reset();
  if (handle != INVALID_HANDLE_VALUE && !CloseHandle(handle)) {
    throw CFileException(static_cast<long>(GetLastError()));
  }
}

bool CFile::IsOpen() const { return m_impl && m_impl->handle != INVALID_HANDLE_VALUE; }

}  // namespace tarvo
