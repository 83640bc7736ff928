#pragma once
// An INI file named by its path, read and written one value at a time through the platform's
// profile functions. Nothing is cached: every read sees the file as it is, every write changes
// it at once.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo {

class CIniFile {
 public:
  explicit CIniFile(std::u16string path);

  // The value of `key` in `section`, at most 254 characters (a longer value is cut); the
  // default text when the file, the section or the key is missing or the value is empty.
  std::u16string ReadString(std::u16string_view section, std::u16string_view key,
                            std::u16string_view defaultText) const;

  // The value read as a decimal number (wcstol rules, clamped to 32 bits: text without digits
  // is 0); the default when the value is missing or empty.
  std::int32_t ReadInt(std::u16string_view section, std::u16string_view key,
                       std::int32_t defaultValue) const;

  // Sets `key` in `section` to `value`. A missing file is first created as an empty UTF-16LE
  // file (the two bytes FF FE), so that the profile functions write it in UTF-16LE. False when
  // the profile write failed: a file that cannot be written keeps its old value.
  bool WriteString(std::u16string_view section, std::u16string_view key,
                   std::u16string_view value) const;

  // Writes the value as "%d" formats it.
  bool WriteInt(std::u16string_view section, std::u16string_view key, std::int32_t value) const;

 private:
  std::u16string m_strPath;
};

}  // namespace tarvo
