// Extraction output on Win32.

#include "platform/output_file.h"
#include "platform/win32/win32_sys.h"

namespace tarvo {

namespace {

FILETIME ToFileTime(std::uint64_t value) {
  FILETIME result;
  result.dwLowDateTime = static_cast<::DWORD>(value & 0xFFFFFFFFu);
  result.dwHighDateTime = static_cast<::DWORD>(value >> 32);
  return result;
}

}  // namespace

struct COutputFile::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~Impl() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

COutputFile::COutputFile() = default;
COutputFile::~COutputFile() = default;

bool COutputFile::Create(const char16_t* path, DWORD attributes, const char16_t*) {
  Close();
  attributes &= FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                FILE_ATTRIBUTE_ARCHIVE;
  const ::DWORD flags = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  // As a rule nothing stands there yet, and the file is made at once.
  HANDLE handle = CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) {
    // Windows refuses to replace a read-only file; Wine run by root would replace it.
    const ::DWORD existing = ::GetFileAttributesW(Wide(path));
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    handle = CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) return false;
  m_impl = std::make_unique<Impl>();
  m_impl->handle = handle;
  return true;
}

bool COutputFile::Write(const void* data, DWORD size) {
  if (!m_impl) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ::DWORD written = 0;
    if (!WriteFile(m_impl->handle, p, size, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    p += written;
    size -= written;
  }
  return true;
}

void COutputFile::SetFileTime(std::uint64_t creation, std::uint64_t access,
                              std::uint64_t modification) {
  if (!m_impl) return;
  const FILETIME c = ToFileTime(creation), a = ToFileTime(access), m = ToFileTime(modification);
  ::SetFileTime(m_impl->handle, creation != 0 ? &c : nullptr, access != 0 ? &a : nullptr,
                modification != 0 ? &m : nullptr);
}

bool COutputFile::Flush() {
  if (!m_impl) return false;
  return FlushFileBuffers(m_impl->handle) != FALSE;
}

bool COutputFile::Close() {
  if (!m_impl) return true;
  const HANDLE handle = m_impl->handle;
  m_impl->handle = INVALID_HANDLE_VALUE;
  m_impl.reset();
  return CloseHandle(handle) != FALSE;
}

BOOL LocalFileTimeToFileTime(std::uint64_t local, std::uint64_t* utc) {
  const FILETIME in = ToFileTime(local);
  FILETIME out;
  if (!::LocalFileTimeToFileTime(&in, &out)) return FALSE;
  *utc = (static_cast<std::uint64_t>(out.dwHighDateTime) << 32) | out.dwLowDateTime;
  return TRUE;
}

}  // namespace tarvo
