#pragma once
// The handful of Windows types and constants that the core speaks in. Both builds use these
// declarations; the Win32 layer converts them to the system's own at its boundary.
//
// Win32 implementation files include these headers before "win32_sys.h": the constants below
// share their names with macros of <windows.h>, and the macros (equal in value) then take over
// for the rest of such a file.

#include <cstdint>

namespace tarvo {

using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using BOOL = int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using INT_PTR = std::intptr_t;

// Opaque handles. The Win32 layer casts them to and from the system's handle types.
struct HWND__;
using HWND = HWND__*;
struct HICON__;
using HICON = HICON__*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// Window messages.
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_ICONERASEBKGND = 0x0027;
inline constexpr UINT WM_QUERYDRAGICON = 0x0037;
inline constexpr UINT WM_SETICON = 0x0080;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_USER = 0x0400;

// Command ids and notification codes.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr UINT BN_CLICKED = 0;
inline constexpr UINT ID_HELP = 0xE146;

// Icons, styles, metrics, show commands.
inline constexpr WPARAM ICON_SMALL = 0;
inline constexpr WPARAM ICON_BIG = 1;
inline constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
inline constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;
inline constexpr int SW_SHOWNORMAL = 1;

// File attributes.
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// Splits of a WPARAM as the message map reads WM_COMMAND.
constexpr UINT LOWORD(WPARAM v) { return static_cast<UINT>(v & 0xFFFF); }
constexpr UINT HIWORD(WPARAM v) { return static_cast<UINT>((v >> 16) & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(UINT low, UINT high) {
  return static_cast<WPARAM>((low & 0xFFFF) | ((high & 0xFFFF) << 16));
}

}  // namespace tarvo
