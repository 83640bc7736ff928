// Directory search on Win32, over FindFirstFileW / FindNextFileW.

#include <string>

#include "platform/files.h"
#include "platform/win32/win32_sys.h"

namespace tarvo {

struct CFileFind::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::u16string folder;     // absolute, ending in a separator
  WIN32_FIND_DATAW found{};  // the match FindNextFile moves to
  WIN32_FIND_DATAW current{};
  bool has_found = false;
  bool started = false;
  ~Impl() {
    if (handle != INVALID_HANDLE_VALUE) FindClose(handle);
  }
};

CFileFind::CFileFind() = default;
CFileFind::~CFileFind() = default;

BOOL CFileFind::FindFile(const char16_t* pattern, DWORD) {
  Close();
  const std::u16string text = pattern != nullptr ? pattern : u"*.*";
  auto impl = std::make_unique<Impl>();
  impl->handle = FindFirstFileW(Wide(text.c_str()), &impl->found);
  if (impl->handle == INVALID_HANDLE_VALUE) return FALSE;
  impl->has_found = true;
  wchar_t full[MAX_PATH * 4] = {};
  wchar_t* file_part = nullptr;
  const DWORD n = GetFullPathNameW(Wide(text.c_str()), MAX_PATH * 4, full, &file_part);
  if (n > 0 && n < MAX_PATH * 4) {
    if (file_part != nullptr) *file_part = 0;
    impl->folder = Utf16(full);
  }
  m_impl = std::move(impl);
  return TRUE;
}

BOOL CFileFind::FindNextFile() {
  if (!m_impl || !m_impl->has_found) return FALSE;
  m_impl->current = m_impl->found;
  m_impl->started = true;
  m_impl->has_found = ::FindNextFileW(m_impl->handle, &m_impl->found) != FALSE;
  return m_impl->has_found ? TRUE : FALSE;
}

void CFileFind::Close() { m_impl.reset(); }

std::u16string CFileFind::GetFileName() const {
  if (!m_impl || !m_impl->started) return {};
  return Utf16(m_impl->current.cFileName);
}

std::u16string CFileFind::GetFilePath() const {
  if (!m_impl || !m_impl->started) return {};
  return m_impl->folder + GetFileName();
}

BOOL CFileFind::IsDots() const {
  const std::u16string name = GetFileName();
  return (name == u"." || name == u"..") ? TRUE : FALSE;
}

BOOL CFileFind::IsDirectory() const { return MatchesMask(FILE_ATTRIBUTE_DIRECTORY); }

BOOL CFileFind::MatchesMask(DWORD mask) const {
  if (!m_impl || !m_impl->started) return FALSE;
  return (m_impl->current.dwFileAttributes & mask) != 0 ? TRUE : FALSE;
}

}  // namespace tarvo
