#include "common/utf.h"

#include <cstdint>

namespace tarvo {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    const auto b0 = static_cast<std::uint8_t>(bytes[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    int length = 0;
    char32_t c = 0;
    // Bounds of the second byte narrow the first continuation byte (no overlongs, no
    // surrogates, nothing above U+10FFFF).
    std::uint8_t low = 0x80, high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
      c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      c = b0 & 0x0F;
      if (b0 == 0xE0) low = 0xA0;
      if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      c = b0 & 0x07;
      if (b0 == 0xF0) low = 0x90;
      if (b0 == 0xF4) high = 0x8F;
    } else {
      AppendUtf16(out, kReplacement);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool valid = true;
    for (int k = 1; k < length; ++k, ++j) {
      if (j >= n) {
        valid = false;
        break;
      }
      const auto b = static_cast<std::uint8_t>(bytes[j]);
      const std::uint8_t lo = k == 1 ? low : 0x80;
      const std::uint8_t hi = k == 1 ? high : 0xBF;
      if (b < lo || b > hi) {
        valid = false;
        break;
      }
      c = (c << 6) | (b & 0x3F);
    }
    if (valid) {
      AppendUtf16(out, c);
    } else {
      AppendUtf16(out, kReplacement);
    }
    i = j;
  }
  return out;
}

std::size_t Utf8IncompleteTail(std::string_view bytes) {
  // The last lead byte among the last three bytes, and the length it announces.
  for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    const auto b = static_cast<std::uint8_t>(bytes[bytes.size() - back]);
    if ((b & 0xC0) == 0x80) continue;
    const std::size_t length = b >= 0xC2 && b <= 0xDF   ? 2
                               : b >= 0xE0 && b <= 0xEF ? 3
                               : b >= 0xF0 && b <= 0xF4 ? 4
                                                        : 1;
    return length > back ? back : 0;
  }
  return 0;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace tarvo
