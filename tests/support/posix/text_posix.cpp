#include "support/test_support.h"

#include "common/utf.h"

namespace tarvo::test {

std::optional<std::string> AnsiBytes(const std::u16string& text) { return Utf16ToUtf8(text); }

}  // namespace tarvo::test
