// The page's bytes on POSIX: UTF-8, the locale's encoding here.

#include <gtest/gtest.h>

#include "update/append_ansi_text.h"

namespace tarvo {
namespace {

TEST(AppendAnsiTextPosix, ReadsUtf8AndReplacesWhatIsNotUtf8) {
  std::u16string text;
  AppendAnsiText(text, "caf\xC3\xA9 \xE4\xB8\xAD");
  EXPECT_EQ(text, u"caf\u00e9 \u4e2d");
  text.clear();
  AppendAnsiText(text, "a\xFFz\x80");
  EXPECT_EQ(text, u"a\uFFFDz\uFFFD");
}

TEST(AppendAnsiTextPosix, DoesNotJoinACharacterSplitBetweenReads) {
  std::u16string text;
  AppendAnsiText(text, "caf\xC3");
  AppendAnsiText(text, "\xA9!");
  EXPECT_EQ(text, u"caf\uFFFD\uFFFD!");
}

}  // namespace
}  // namespace tarvo
