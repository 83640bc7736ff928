#include "update/append_ansi_text.h"

#include "platform/text.h"

namespace tarvo {

std::u16string& AppendAnsiText(std::u16string& target, std::string_view chunk) {
  target += ThreadAnsiToUtf16(chunk.substr(0, chunk.find('\0')));
  return target;
}

}  // namespace tarvo
