#include "common/decimal.h"

#include <algorithm>
#include <limits>

namespace tarvo {

namespace {

// The white space that wcstol skips in the "C" locale (iswspace).
bool IsDecimalSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

}  // namespace

std::int64_t ParseDecimal64(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsDecimalSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // The magnitude stops at kCap + 1, past every 64-bit limit, and never wraps.
  constexpr std::uint64_t kCap = std::uint64_t{1} << 63;
  std::uint64_t magnitude = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - u'0');
    magnitude = magnitude > (kCap + 1 - digit) / 10 ? kCap + 1 : magnitude * 10 + digit;
  }
  if (negative) {
    return magnitude >= kCap ? std::numeric_limits<std::int64_t>::min()
                             : -static_cast<std::int64_t>(magnitude);
  }
  return magnitude >= kCap ? std::numeric_limits<std::int64_t>::max()
                           : static_cast<std::int64_t>(magnitude);
}

std::int32_t ParseDecimal(std::u16string_view text) {
  const std::int64_t value = ParseDecimal64(text);
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

bool StartsWithDigits(std::u16string_view text, std::size_t count) {
  if (text.size() < count) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
  }
  return true;
}

std::u16string FormatDecimal(std::int64_t value) {
  const bool negative = value < 0;
  // In unsigned arithmetic, so that the lowest value has a magnitude too.
  std::uint64_t v =
      negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + v % 10));
    v /= 10;
  } while (v != 0);
  if (negative) digits.insert(digits.begin(), u'-');
  return digits;
}

}  // namespace tarvo
