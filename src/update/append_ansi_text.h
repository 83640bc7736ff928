#pragma once
// Widening the bytes of the version list page, one read at a time.

#include <string>
#include <string_view>

namespace tarvo {

// Appends `chunk` converted from the thread's ANSI code page (ThreadAnsiToUtf16) to `target`
// and returns `target`. The chunk is zero-terminated text: it ends at its first zero byte, or
// after its last byte when it holds none, so the rest of a read after a zero byte is dropped.
// Each chunk converts on its own: a character whose bytes straddle two chunks is not joined.
// Throws std::bad_alloc.
std::u16string& AppendAnsiText(std::u16string& target, std::string_view chunk);

}  // namespace tarvo
