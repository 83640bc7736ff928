// Directory search on POSIX, shaped like the Windows one on NTFS: wildcards that ignore letter
// case, and names in case-insensitive ordinal order.

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "common/windows_names.h"
#include "platform/files.h"
#include "platform/posix/native_path.h"

namespace tarvo {

namespace {

// Windows wildcard match: "*" any run, "?" any one character; letter case ignored.
bool MatchesWildcard(std::u16string_view mask, std::u16string_view name) {
  std::size_t m = 0, n = 0, star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == u'?' || FoldAsciiCase(mask[m]) == FoldAsciiCase(name[n]))) {
      ++m;
      ++n;
    } else if (m < mask.size() && mask[m] == u'*') {
      star = m++;
      resume = n;
    } else if (star != std::u16string_view::npos) {
      m = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == u'*') ++m;
  return m == mask.size();
}

}  // namespace

struct CFileFind::Impl {
  std::u16string folder;  // absolute, ending in "\"
  std::vector<std::u16string> names;
  std::size_t next = 0;     // index of the match FindNextFile moves to
  std::size_t current = 0;  // valid once FindNextFile has been called
  bool started = false;
};

CFileFind::CFileFind() = default;
CFileFind::~CFileFind() = default;

BOOL CFileFind::FindFile(const char16_t* pattern, DWORD) {
  Close();
  std::u16string text = pattern != nullptr ? pattern : u"*";
  const auto sep = text.find_last_of(u"\\/");
  std::u16string folder = sep == std::u16string::npos ? u"" : text.substr(0, sep + 1);
  const std::u16string mask = text.substr(sep == std::u16string::npos ? 0 : sep + 1);
  if (folder.empty() || (folder[0] != u'\\' && folder[0] != u'/')) {
    char16_t cwd[4096] = {};
    if (GetCurrentDirectoryW(4096, cwd) == 0) return FALSE;
    std::u16string absolute = cwd;
    if (absolute.back() != u'\\') absolute += u'\\';
    folder = absolute + folder;
  }
  std::replace(folder.begin(), folder.end(), u'/', u'\\');

  auto impl = std::make_unique<Impl>();
  impl->folder = folder;
  if (mask.find_first_of(u"*?") == std::u16string::npos) {
    struct stat st {};
    if (mask.empty() || stat(NativePath(folder + mask).c_str(), &st) != 0) return FALSE;
    impl->names.push_back(mask);
  } else {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(NativePath(folder).c_str()), &closedir);
    if (!dir) return FALSE;
    while (const dirent* entry = readdir(dir.get())) {
      std::u16string name = CorePath(entry->d_name);
      if (MatchesWildcard(mask, name)) impl->names.push_back(std::move(name));
    }
    std::sort(impl->names.begin(), impl->names.end(), LessIgnoringAsciiCase);
  }
  if (impl->names.empty()) return FALSE;
  m_impl = std::move(impl);
  return TRUE;
}

BOOL CFileFind::FindNextFile() {
  if (!m_impl || m_impl->next >= m_impl->names.size()) return FALSE;
  m_impl->current = m_impl->next++;
  m_impl->started = true;
  return m_impl->next < m_impl->names.size() ? TRUE : FALSE;
}

void CFileFind::Close() { m_impl.reset(); }

std::u16string CFileFind::GetFileName() const {
  if (!m_impl || !m_impl->started) return {};
  return m_impl->names[m_impl->current];
}

std::u16string CFileFind::GetFilePath() const {
  if (!m_impl || !m_impl->started) return {};
  return m_impl->folder + m_impl->names[m_impl->current];
}

BOOL CFileFind::IsDots() const {
  const std::u16string name = GetFileName();
  return (name == u"." || name == u"..") ? TRUE : FALSE;
}

BOOL CFileFind::IsDirectory() const { return MatchesMask(FILE_ATTRIBUTE_DIRECTORY); }

BOOL CFileFind::MatchesMask(DWORD mask) const {
  if (!m_impl || !m_impl->started) return FALSE;
  const DWORD attributes = GetFileAttributesW(GetFilePath().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FALSE;
  return (attributes & mask) != 0 ? TRUE : FALSE;
}

}  // namespace tarvo
