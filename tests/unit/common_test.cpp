// Decimal text, UTF conversions and text search shared by every subsystem.

#include <gtest/gtest.h>

#include "common/decimal.h"
#include "common/find_text.h"
#include "common/utf.h"

namespace tarvo {
namespace {

TEST(ParseDecimal, ReadsLikeWcstolInBaseTen) {
  EXPECT_EQ(ParseDecimal(u"42"), 42);
  EXPECT_EQ(ParseDecimal(u"00000015"), 15);
  EXPECT_EQ(ParseDecimal(u"-3"), -3);
  EXPECT_EQ(ParseDecimal(u"+7"), 7);
  EXPECT_EQ(ParseDecimal(u" \t\r\n\v\f12"), 12);
  EXPECT_EQ(ParseDecimal(u"12abc"), 12);
  EXPECT_EQ(ParseDecimal(u"-0001"), -1);
}

TEST(ParseDecimal, TextWithoutDigitsIsZero) {
  EXPECT_EQ(ParseDecimal(u""), 0);
  EXPECT_EQ(ParseDecimal(u"abc"), 0);
  EXPECT_EQ(ParseDecimal(u"-"), 0);
  EXPECT_EQ(ParseDecimal(u"+-1"), 0);
  EXPECT_EQ(ParseDecimal(u" - 1"), 0);
  // Only ASCII digits count; a full-width digit ends the number.
  EXPECT_EQ(ParseDecimal(u"\uFF11"), 0);
}

TEST(ParseDecimal, ClampsToThe32BitLimits) {
  EXPECT_EQ(ParseDecimal(u"2147483647"), 2147483647);
  EXPECT_EQ(ParseDecimal(u"2147483648"), 2147483647);
  EXPECT_EQ(ParseDecimal(u"-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ParseDecimal(u"-2147483649"), -2147483647 - 1);
  EXPECT_EQ(ParseDecimal(std::u16string(300, u'9')), 2147483647);
  EXPECT_EQ(ParseDecimal(u"-" + std::u16string(300, u'9')), -2147483647 - 1);
}

TEST(FormatDecimal, WritesLikePercentD) {
  EXPECT_EQ(FormatDecimal(0), u"0");
  EXPECT_EQ(FormatDecimal(42), u"42");
  EXPECT_EQ(FormatDecimal(-3), u"-3");
  EXPECT_EQ(FormatDecimal(2147483647), u"2147483647");
  EXPECT_EQ(FormatDecimal(-2147483647 - 1), u"-2147483648");
}

TEST(Utf, RoundTripsEveryPlane) {
  const std::u16string text = u"a\u00e9\u4e2d\U0001F600z";
  EXPECT_EQ(Utf16ToUtf8(text), "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z");
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
}

TEST(Utf, InvalidBytesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\x80z"), u"a\uFFFDz");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), u"\uFFFD");  // cut short at the end
  EXPECT_EQ(Utf8ToUtf16("\xE4\xB8z"), u"\uFFFDz");
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

TEST(FindText, FindsWhatStringViewFindFindsAcrossBlockEdges) {
  // Lengths and starts on both sides of the 16-character blocks, and needles that would run
  // past the end.
  for (std::size_t size = 0; size < 70; ++size) {
    std::u16string text(size, u'a');
    for (std::size_t at = 0; at < size; at += 5) text[at] = u'<';
    if (size > 3) text.replace(size - 3, 3, u"<Ve");
    const std::u16string_view view(text);
    for (std::size_t from = 0; from <= size + 1; ++from) {
      EXPECT_EQ(FindChar(view, u'<', from), view.find(u'<', from)) << size << " " << from;
      EXPECT_EQ(FindChar(view, u'z', from), std::u16string_view::npos);
      EXPECT_EQ(FindText(view, u"<Ve", from), view.find(u"<Ve", from)) << size << " " << from;
      EXPECT_EQ(FindText(view, u"<Version>", from), std::u16string_view::npos);
      EXPECT_EQ(FindText(view, u"<aaaa<", from), view.find(u"<aaaa<", from));
    }
  }
}

}  // namespace
}  // namespace tarvo
