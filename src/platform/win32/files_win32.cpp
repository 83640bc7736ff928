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

// Windows reports a reparse point's own attributes without following it.
DWORD GetLinkAttributesW(const char16_t* path) { return ::GetFileAttributesW(Wide(path)); }

DWORD GetLastError() { return ::GetLastError(); }

BOOL CreateDirectoryW(const char16_t* path) { return ::CreateDirectoryW(Wide(path), nullptr); }

BOOL SetFileAttributesW(const char16_t* path, DWORD attributes) {
  const ::DWORD current = ::GetFileAttributesW(Wide(path));
  if (current == INVALID_FILE_ATTRIBUTES) return FALSE;
  const ::DWORD changed = (current & ~static_cast<::DWORD>(FILE_ATTRIBUTE_READONLY)) |
                          (attributes & FILE_ATTRIBUTE_READONLY);
  return ::SetFileAttributesW(Wide(path), changed != 0 ? changed : FILE_ATTRIBUTE_NORMAL);
}

BOOL DeleteFileW(const char16_t* path) { return ::DeleteFileW(Wide(path)); }

BOOL RemoveDirectoryW(const char16_t* path) { return ::RemoveDirectoryW(Wide(path)); }

BOOL GetDiskFreeSpaceExW(const char16_t* path, std::uint64_t* freeBytesAvailable) {
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(Wide(path), &available, nullptr, nullptr)) return FALSE;
  *freeBytesAvailable = available.QuadPart;
  return TRUE;
}

BOOL GetFileWriteTime(const char16_t* path, std::uint64_t* time) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) return FALSE;
  *time = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
          data.ftLastWriteTime.dwLowDateTime;
  return TRUE;
}

std::uint64_t GetSystemTimeAsFileTime() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

BOOL MoveFileExW(const char16_t* from, const char16_t* to, DWORD flags) {
  return ::MoveFileExW(Wide(from), Wide(to), flags);
}

// Windows has no call for it that a user may make: NTFS journals a folder's entries itself.
BOOL FlushFolder(const char16_t*) { return TRUE; }

// Each file was flushed on its own (COutputFile::Flush): Windows has no flush of a whole volume
// that a user may call.
BOOL FlushFileSystem(const char16_t*) { return TRUE; }

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
  DWORD share = (flags & shareDenyWrite) ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (flags & shareExclusive) {
    share = 0;
    access |= DELETE;  // for Delete, which nobody else can come between
  }
  const DWORD disposition = (flags & modeCreateNew) ? CREATE_NEW
                            : (flags & modeNoTruncate)
                                ? ((flags & modeCreate) ? OPEN_ALWAYS : OPEN_EXISTING)
                            : (flags & modeCreate) ? CREATE_ALWAYS
                                                   : OPEN_EXISTING;
  const ::DWORD attributes =
      FILE_ATTRIBUTE_NORMAL | ((flags & modeNoFollow) ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  const HANDLE handle =
      CreateFileW(Wide(path), access, share, nullptr, disposition, attributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return FALSE;
  BY_HANDLE_FILE_INFORMATION information;
  if ((flags & modeNoFollow) && (!GetFileInformationByHandle(handle, &information) ||
                                 (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
    CloseHandle(handle);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
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
  if (!IsOpen()) throw CFileException(ERROR_INVALID_HANDLE);
  const char* bytes = static_cast<const char*>(buffer);
  while (count > 0) {
    ::DWORD written = 0;
    if (!WriteFile(m_impl->handle, bytes, count, &written, nullptr)) {
      throw CFileException(static_cast<long>(GetLastError()));
    }
    // A disk file takes part of a write only when its volume is full (so does Wine).
    if (written == 0) throw CFileException(ERROR_DISK_FULL);
    bytes += written;
    count -= written;
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

void CFile::Flush() {
  if (!IsOpen() || !FlushFileBuffers(m_impl->handle)) {
    throw CFileException(static_cast<long>(GetLastError()));
  }
}

void CFile::SetLength(std::uint64_t length) {
  LARGE_INTEGER position{};
  LARGE_INTEGER target{};
  target.QuadPart = static_cast<LONGLONG>(length);
  const LARGE_INTEGER none{};
  if (!IsOpen() || !SetFilePointerEx(m_impl->handle, none, &position, FILE_CURRENT) ||
      !SetFilePointerEx(m_impl->handle, target, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(m_impl->handle)) {
    const ::DWORD error = GetLastError();
    if (IsOpen()) SetFilePointerEx(m_impl->handle, position, nullptr, FILE_BEGIN);
    throw CFileException(static_cast<long>(error));
  }
  SetFilePointerEx(m_impl->handle, position, nullptr, FILE_BEGIN);
}

bool CFile::Delete() {
  if (!IsOpen()) return false;
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  const bool deleted = SetFileInformationByHandle(m_impl->handle, FileDispositionInfo, &disposition,
                                                  sizeof(disposition)) != FALSE;
  m_impl.reset();  // the file goes as its handle closes
  return deleted;
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

struct CFolderLock::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~Impl() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);  // releases the lock
  }
};

CFolderLock::CFolderLock() = default;
CFolderLock::~CFolderLock() = default;

bool CFolderLock::Lock(const char16_t* path, DWORD timeoutMs) {
  m_impl.reset();
  std::u16string file = path;
  if (!file.empty() && file.back() != u'\\' && file.back() != u'/') file += u'\\';
  file += u"tarvo.lock";
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    // Opened without sharing: while one handle is open, every other open fails. The system
    // closes it when the process ends, and the file goes with it.
    const HANDLE handle =
        CreateFileW(Wide(file.c_str()), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      m_impl = std::make_unique<Impl>();
      m_impl->handle = handle;
      return true;
    }
    const ::DWORD error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return false;
    if (GetTickCount64() >= deadline) return false;
    Sleep(50);
  }
}

}  // namespace tarvo
