// The POSIX profile reader and writer on hostile files and names: no crash, no sanitizer
// report, and a write followed by a read returns the value written, changes no other value
// and is not changed by writing the same value again.
//
// Input: one byte of flags, four lengths (section, key, value, another name), those texts,
// then the file's bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "common/utf.h"
#include "platform/posix/profile_text.h"

namespace {

// The checks below judge the engine by the rules it promises, written again here plainly.
bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == u'\r' || c == u'\n' ||
         c == 0x1A;
}

std::u16string Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return std::u16string(text);
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  const auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? c - 32 : c; };
  const std::u16string x = Trim(a), y = Trim(b);
  return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                    [&](char16_t p, char16_t q) { return fold(p) == fold(q); });
}

// What a read returns for a value written as `value`.
std::u16string AsRead(std::u16string_view value) {
  std::u16string text = Trim(value);
  if (text.size() >= 2 && text.front() == text.back() &&
      (text.front() == u'"' || text.front() == u'\'')) {
    text = text.substr(1, text.size() - 2);
  }
  return text;
}

// Reads a text field: UTF-8, or raw 16-bit units (which may hold unpaired surrogates).
std::u16string TakeText(std::string_view& input, std::size_t length, bool units) {
  length = std::min(length, input.size());
  const std::string_view bytes = input.substr(0, length);
  input.remove_prefix(length);
  if (!units) return tarvo::Utf8ToUtf16(bytes);
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  return text;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto flags = static_cast<unsigned char>(input[0]);
  const std::size_t lengths[] = {
      static_cast<unsigned char>(input[1]) % 32u, static_cast<unsigned char>(input[2]) % 32u,
      static_cast<unsigned char>(input[3]), static_cast<unsigned char>(input[4]) % 32u};
  input.remove_prefix(5);
  const bool units = (flags & 1) != 0;
  const std::u16string section = TakeText(input, lengths[0], units);
  const std::u16string key = TakeText(input, lengths[1], units);
  const std::u16string value = TakeText(input, lengths[2], units);
  const std::u16string other = TakeText(input, lengths[3], units);
  std::string file(input);
  if (flags & 2) file.insert(0, "\xFF\xFE");
  if (flags & 4) file.insert(0, "\xEF\xBB\xBF");

  const std::optional<std::string> edited = tarvo::SetProfileValue(file, section, key, value);
  if (!edited) return 0;

  Check(tarvo::FindProfileValue(*edited, section, key) == AsRead(value));
  Check(tarvo::SetProfileValue(*edited, section, key, value) == *edited);
  if (!SameName(other, key)) {
    Check(tarvo::FindProfileValue(*edited, section, other) ==
          tarvo::FindProfileValue(file, section, other));
  }
  if (!SameName(other, section)) {
    Check(tarvo::FindProfileValue(*edited, other, key) ==
          tarvo::FindProfileValue(file, other, key));
  }
  return 0;
}
