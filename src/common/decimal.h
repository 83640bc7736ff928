#pragma once
// Decimal text as the C library's wcstol reads it in base 10, and "%d" formatting.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo {

// Reads text by the rules of wcstol in base 10: leading white space is skipped, one optional
// '+' or '-' is taken, then decimal digits up to the first other character. Text without digits
// gives 0; a value beyond the signed 32-bit range gives the nearest limit.
std::int32_t ParseDecimal(std::u16string_view text);
// The same reading into 64 bits: a value beyond the signed 64-bit range gives the nearest limit.
std::int64_t ParseDecimal64(std::u16string_view text);

// True when `text` begins with `count` ASCII decimal digits.
bool StartsWithDigits(std::u16string_view text, std::size_t count);

// Formats a value as "%d" ("%lld") does: an optional minus sign and the digits, no padding.
std::u16string FormatDecimal(std::int64_t value);

}  // namespace tarvo
