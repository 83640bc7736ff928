#include "common/find_text.h"

namespace tarvo {

std::size_t FindChar(std::u16string_view text, char16_t c, std::size_t from) {
  constexpr std::size_t kBlock = 16;
  const char16_t* const data = text.data();
  const std::size_t size = text.size();
  std::size_t i = from;
  // A whole block is compared without an early exit, so that the compiler can compare it as
  // one vector; only the block that holds a match is searched one character at a time.
  while (i < size && size - i >= kBlock) {
    bool found = false;
    for (std::size_t k = 0; k < kBlock; ++k) found |= data[i + k] == c;
    if (found) break;
    i += kBlock;
  }
  for (; i < size; ++i) {
    if (data[i] == c) return i;
  }
  return std::u16string_view::npos;
}

std::size_t FindText(std::u16string_view text, std::u16string_view what, std::size_t from) {
  for (std::size_t i = from;; ++i) {
    i = FindChar(text, what.front(), i);
    if (i == std::u16string_view::npos || text.size() - i < what.size()) {
      return std::u16string_view::npos;
    }
    if (text.compare(i, what.size(), what) == 0) return i;
  }
}

}  // namespace tarvo
