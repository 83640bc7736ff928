#include "common/windows_names.h"

#include <algorithm>
#include <array>
#include <string>

namespace tarvo {

bool LessIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](char16_t x, char16_t y) { return FoldAsciiCase(x) < FoldAsciiCase(y); });
}

bool SamePathIgnoringCase(std::u16string_view a, std::u16string_view b) {
  const auto unit = [](char16_t c) { return FoldAsciiCase(c == u'/' ? u'\\' : c); };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&unit](char16_t x, char16_t y) { return unit(x) == unit(y); });
}

bool IsWindowsDeviceName(std::u16string_view component) {
  component = component.substr(0, component.find(u'.'));
  while (!component.empty() && component.back() == u' ') component.remove_suffix(1);
  std::u16string upper(component);
  std::transform(upper.begin(), upper.end(), upper.begin(), FoldAsciiCase);
  static constexpr std::array<std::u16string_view, 6> kNames = {u"CON", u"PRN",    u"AUX",
                                                                u"NUL", u"CONIN$", u"CONOUT$"};
  if (std::find(kNames.begin(), kNames.end(), upper) != kNames.end()) return true;
  if (upper.size() != 4 || (upper.compare(0, 3, u"COM") != 0 && upper.compare(0, 3, u"LPT") != 0)) {
    return false;
  }
  const char16_t digit = upper[3];
  return (digit >= u'1' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
         digit == u'\u00B3';
}

}  // namespace tarvo
