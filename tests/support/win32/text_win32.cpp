#include "support/test_support.h"

#include <windows.h>

namespace tarvo::test {

std::optional<std::string> AnsiBytes(const std::u16string& text) {
  const auto* wide = reinterpret_cast<const wchar_t*>(text.c_str());
  const int length = static_cast<int>(text.size());
  BOOL lost = FALSE;
  const int size = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, &lost);
  if (size <= 0 || lost) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, length, bytes.data(), size, nullptr, nullptr);
  return bytes;
}

}  // namespace tarvo::test
