// The page's bytes on POSIX: UTF-8, the locale's encoding here.

#include <gtest/gtest.h>

#include "update/ansi_page_text.h"

namespace tarvo {
namespace {

TEST(AnsiPageTextPosix, ReadsUtf8AndReplacesWhatIsNotUtf8) {
  AnsiPageText text;
  text.Append("caf\xC3\xA9 \xE4\xB8\xAD");
  text.Append("a\xFFz\x80");
  EXPECT_EQ(text.Take(), u"caf\u00e9 \u4e2da\uFFFDz\uFFFD");
}

TEST(AnsiPageTextPosix, JoinsACharacterSplitBetweenReads) {
  // Every split of a text with characters of two, three and four bytes reads alike.
  const std::string page = "<a>caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80<b>";
  const std::u16string whole = u"<a>caf\u00e9 \u4e2d \U0001F600<b>";
  for (std::size_t cut = 0; cut <= page.size(); ++cut) {
    for (std::size_t second = cut; second <= page.size(); ++second) {
      AnsiPageText text;
      text.Append(std::string_view(page).substr(0, cut));
      text.Append(std::string_view(page).substr(cut, second - cut));
      text.Append(std::string_view(page).substr(second));
      EXPECT_EQ(text.Take(), whole) << cut << " " << second;
    }
  }
  // A character cut short at the end of the page, and one cut by a zero byte, are replaced.
  AnsiPageText cut;
  cut.Append("a\xE4\xB8");
  EXPECT_EQ(cut.Take(), u"a\uFFFD");
  AnsiPageText zero;
  zero.Append(std::string_view("a\xE4\0\xB8", 4));
  zero.Append("\xADz");
  EXPECT_EQ(zero.Take(), u"a\uFFFD\uFFFDz");
}

}  // namespace
}  // namespace tarvo
