#include "config/ini_file.h"

#include <utility>

#include "common/decimal.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace tarvo {

namespace {

// The profile functions fill at most this many characters, the NUL included; the buffer is
// larger than that on purpose.
constexpr DWORD kValueSize = 255;
constexpr std::size_t kBufferSize = 1024;

bool FileExists(const std::u16string& path) {
  CFileFind find;
  return find.FindFile(path.c_str()) != FALSE;
}

// An empty file that the profile functions will write as UTF-16LE text.
void CreateUtf16File(const std::u16string& path) {
  static constexpr unsigned char kByteOrderMark[] = {0xFF, 0xFE};
  CFile file;
  if (!file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite)) return;
  try {
    file.Write(kByteOrderMark, sizeof kByteOrderMark);
    file.Close();
  } catch (const CFileException&) {
    // Left to the profile write that follows, which reports nothing either.
  }
}

}  // namespace

CIniFile::CIniFile(std::u16string path) : m_strPath(std::move(path)) {}

std::u16string CIniFile::ReadString(std::u16string_view section, std::u16string_view key,
                                    std::u16string_view defaultText) const {
  char16_t buffer[kBufferSize] = {};
  GetPrivateProfileStringW(std::u16string(section).c_str(), std::u16string(key).c_str(), u"",
                           buffer, kValueSize, m_strPath.c_str());
  if (buffer[0] == 0) return std::u16string(defaultText);
  return buffer;
}

std::int32_t CIniFile::ReadInt(std::u16string_view section, std::u16string_view key,
                               std::int32_t defaultValue) const {
  return ParseDecimal(ReadString(section, key, FormatDecimal(defaultValue)));
}

bool CIniFile::WriteString(std::u16string_view section, std::u16string_view key,
                           std::u16string_view value) const {
  if (!FileExists(m_strPath)) CreateUtf16File(m_strPath);
  return WritePrivateProfileStringW(std::u16string(section).c_str(), std::u16string(key).c_str(),
                                    std::u16string(value).c_str(), m_strPath.c_str()) != FALSE;
}

bool CIniFile::WriteInt(std::u16string_view section, std::u16string_view key,
                        std::int32_t value) const {
  return WriteString(section, key, FormatDecimal(value));
}

}  // namespace tarvo
