#include "common/decimal.h"

#include <limits>

namespace tarvo {

namespace {

// The white space that wcstol skips in the "C" locale (iswspace).
bool IsDecimalSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

}  // namespace

std::int32_t ParseDecimal(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsDecimalSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // Accumulate the magnitude in 64 bits and stop growing once it is past every 32-bit limit.
  constexpr std::int64_t kCap = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    if (magnitude <= kCap) magnitude = magnitude * 10 + (text[i] - u'0');
  }
  std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max())
    return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min())
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

bool StartsWithDigits(std::u16string_view text, std::size_t count) {
  if (text.size() < count) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
  }
  return true;
}

std::u16string FormatDecimal(std::int32_t value) {
  std::int64_t v = value;
  bool negative = v < 0;
  if (negative) v = -v;
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + v % 10));
    v /= 10;
  } while (v != 0);
  if (negative) digits.insert(digits.begin(), u'-');
  return digits;
}

}  // namespace tarvo
