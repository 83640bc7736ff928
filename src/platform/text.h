#pragma once
// Text in the system's narrow encoding.

#include <string>
#include <string_view>

namespace tarvo {

// Converts bytes in the ANSI code page of the calling thread to UTF-16, as
// MultiByteToWideChar(CP_THREAD_ACP, 0, ...) does. POSIX: the bytes are taken as UTF-8 and each
// invalid sequence becomes U+FFFD. Empty bytes give empty text. Throws std::length_error for
// 2 GiB of bytes or more on Win32, and std::bad_alloc.
std::u16string ThreadAnsiToUtf16(std::string_view bytes);

}  // namespace tarvo
