#pragma once
// Conversions between UTF-8 bytes and UTF-16 text.

#include <string>
#include <string_view>

namespace tarvo {

// Decodes UTF-8. Every byte sequence that is not valid UTF-8 (stray continuation bytes,
// overlong forms, surrogates, values above U+10FFFF, a sequence cut short) becomes one U+FFFD
// per maximal invalid subpart, as the Unicode standard recommends.
std::u16string Utf8ToUtf16(std::string_view bytes);

// How many bytes at the end of `bytes` begin a UTF-8 sequence that is cut short there (0 to
// 3): the bytes to hold back until more arrive, so that text converted piece by piece reads as
// if it had been converted whole.
std::size_t Utf8IncompleteTail(std::string_view bytes);

// Encodes UTF-16 as UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace tarvo
