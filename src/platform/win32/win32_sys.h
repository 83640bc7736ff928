#pragma once
// The system headers of the Win32 layer. Include this after every project header: the
// project's constants share their names with macros defined here.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Member functions of the framework classes carry these names; the A/W macros must not
// rename them.
#undef SendMessage
#undef FindNextFile

namespace tarvo {

inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline const char16_t* Utf16(const wchar_t* text) {
  return reinterpret_cast<const char16_t*>(text);
}
inline ::HWND SystemHwnd(HWND hWnd) { return reinterpret_cast<::HWND>(hWnd); }
inline HWND CoreHwnd(::HWND hWnd) { return reinterpret_cast<HWND>(hWnd); }

}  // namespace tarvo
