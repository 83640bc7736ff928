#pragma once
// How Windows compares and reserves file names, for code that must agree with it on any system.

#include <string_view>

namespace tarvo {

// The upper-case form of an ASCII letter, any other unit unchanged: the case folding that
// name matching here relies on (NTFS and the profile functions fold more letters; names in
// this system are ASCII).
constexpr char16_t FoldAsciiCase(char16_t c) {
  return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c;
}

// Case-insensitive ordinal order, as NTFS lists names: folded with FoldAsciiCase, then by
// UTF-16 code unit.
bool LessIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);

// True when `a` and `b` name the same file as Windows compares paths: "\" and "/" alike, ASCII
// letters in either case.
bool SamePathIgnoringCase(std::u16string_view a, std::u16string_view b);

// True when a path component names a device on Windows ("NUL", "com1.txt", "CON .x", "CONIN$"):
// Windows opens the device whatever extension or trailing blanks follow the name.
bool IsWindowsDeviceName(std::u16string_view component);

}  // namespace tarvo
