#pragma once
// Text in the system's narrow encoding.

#include <optional>
#include <string>
#include <string_view>

namespace tarvo {

// Converts bytes in the ANSI code page of the calling thread to UTF-16, as
// MultiByteToWideChar(CP_THREAD_ACP, 0, ...) does. POSIX: the bytes are taken as UTF-8 and each
// invalid sequence becomes U+FFFD. Empty bytes give empty text. Throws std::length_error for
// 2 GiB of bytes or more on Win32, and std::bad_alloc.
std::u16string ThreadAnsiToUtf16(std::string_view bytes);

// How many bytes at the end of `bytes` begin a character that `bytes` does not complete, in
// the ANSI code page of the calling thread: 0 when the last character is whole or the code
// page has one byte per character. `bytes` must start at the beginning of a character. Lets
// text that arrives in pieces be converted as if it had come in one piece. POSIX: UTF-8.
std::size_t ThreadAnsiIncompleteTail(std::string_view bytes);

// Converts bytes in the system's OEM code page to UTF-16, as MultiByteToWideChar(CP_OEMCP,
// MB_ERR_INVALID_CHARS, ...) does: the code page in which Windows reads the names of zip items
// that do not say they are UTF-8 (936 on Chinese Windows). Nothing when the bytes are not valid
// text in it. POSIX: code page 936, whatever the locale.
std::optional<std::u16string> OemCodePageToUtf16(std::string_view bytes);

}  // namespace tarvo
