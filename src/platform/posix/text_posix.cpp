#include "platform/text.h"

#include "common/utf.h"

namespace tarvo {

// UTF-8 is the locale's encoding wherever the launcher runs on POSIX.
std::u16string ThreadAnsiToUtf16(std::string_view bytes) { return Utf8ToUtf16(bytes); }

std::size_t ThreadAnsiIncompleteTail(std::string_view bytes) { return Utf8IncompleteTail(bytes); }

}  // namespace tarvo
