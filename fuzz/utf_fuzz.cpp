// UTF-8 decoding of hostile bytes: never reads past the input, and what it decodes encodes
// back to text that decodes to the same.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text =
      tarvo::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
  if (tarvo::Utf8ToUtf16(tarvo::Utf16ToUtf8(text)) != text) std::abort();
  return 0;
}
