#pragma once
// Searching long UTF-16 text, such as a version list page, for short literal pieces.

#include <cstddef>
#include <string_view>

namespace tarvo {

// The index of the first `c` in `text` at or after `from`, or npos. Same result as
// text.find(c, from); looks at blocks of characters at a time, which is several times faster
// on long text.
std::size_t FindChar(std::u16string_view text, char16_t c, std::size_t from = 0);

// The index of the first occurrence of `what` (not empty) in `text` at or after `from`, or
// npos. Same result as text.find(what, from), built on FindChar: fast for needles whose first
// character is rare in the text, as a tag's "<" is.
std::size_t FindText(std::u16string_view text, std::u16string_view what, std::size_t from = 0);

}  // namespace tarvo
