#include "update/ansi_page_text.h"

#include "platform/text.h"

namespace tarvo {

void AnsiPageText::Append(std::string_view read) {
  const std::size_t zero = read.find('\0');
  std::string bytes = std::move(m_held);
  m_held.clear();
  bytes.append(read.substr(0, zero));
  // A read cut at a zero byte ends its text there; nothing of it waits for the next read.
  const std::size_t held = zero == std::string_view::npos ? ThreadAnsiIncompleteTail(bytes) : 0;
  m_held.assign(bytes, bytes.size() - held, held);
  bytes.resize(bytes.size() - held);
  m_text += ThreadAnsiToUtf16(bytes);
}

std::u16string AnsiPageText::Take() {
  m_text += ThreadAnsiToUtf16(m_held);
  m_held.clear();
  return std::move(m_text);
}

}  // namespace tarvo
