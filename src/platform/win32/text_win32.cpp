#include "platform/text.h"

#include "common/utf.h"
#include "platform/win32/win32_sys.h"

#include <climits>
#include <stdexcept>

namespace tarvo {

std::u16string ThreadAnsiToUtf16(std::string_view bytes) {
  if (bytes.empty()) return {};
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
    throw std::length_error("text too long to convert");
  }
  const int size = static_cast<int>(bytes.size());
  // Without MB_ERR_INVALID_CHARS a byte without a character in the code page still converts
  // (to the code page's default character), so 0 means only that nothing could be converted.
  const int length = ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::u16string text(static_cast<std::size_t>(length), u'\0');
  const int written =
      ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), size, Wide(text.data()), length);
  text.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return text;
}

std::optional<std::u16string> OemCodePageToUtf16(std::string_view bytes) {
  if (bytes.empty()) return std::u16string();
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int size = static_cast<int>(bytes.size());
  const int length =
      ::MultiByteToWideChar(CP_OEMCP, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::u16string text(static_cast<std::size_t>(length), u'\0');
  if (::MultiByteToWideChar(CP_OEMCP, MB_ERR_INVALID_CHARS, bytes.data(), size, Wide(text.data()),
                            length) != length) {
    return std::nullopt;
  }
  return text;
}

std::size_t ThreadAnsiIncompleteTail(std::string_view bytes) {
  // CP_THREAD_ACP is the ANSI code page of the thread's locale.
  ::DWORD codePage = 0;
  if (GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                     reinterpret_cast<LPWSTR>(&codePage), sizeof(codePage) / sizeof(WCHAR)) == 0) {
    return 0;
  }
  if (codePage == CP_UTF8) return Utf8IncompleteTail(bytes);
  CPINFO info{};
  if (!GetCPInfo(codePage, &info) || info.MaxCharSize != 2) return 0;
  // Double-byte code pages (936, 932, 949, 950): a lead byte takes the byte after it, whatever
  // that is, so pairs are found from the start.
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (!IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[i]))) {
      ++i;
    } else if (i + 1 == bytes.size()) {
      return 1;
    } else {
      i += 2;
    }
  }
  return 0;
}

}  // namespace tarvo
