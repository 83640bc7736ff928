// The configuration store and the profile functions under it. On the Win32 build the profile
// functions are the system's own, so every expectation here holds for both.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/config_version.h"
#include "config/download_rate.h"
#include "config/ini_file.h"
#include "platform/profile.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

std::string Utf16Bytes(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

// A folder with one profile file in it.
class ProfileFile : public ::testing::Test {
 protected:
  std::filesystem::path File() const { return dir_.path() / "Config.ini"; }
  std::u16string Path() const { return test::CoreText(File()); }
  void Write(const std::string& bytes) const { test::WriteFile(File(), bytes); }
  std::string Bytes() const { return test::ReadFile(File()); }

  // What GetPrivateProfileStringW returns with the default "DEF" and room for `size` units.
  std::u16string Get(const char16_t* section, const char16_t* key, DWORD size = 255) const {
    char16_t buffer[1024] = {};
    const DWORD count =
        GetPrivateProfileStringW(section, key, u"DEF", buffer, size, Path().c_str());
    EXPECT_EQ(std::u16string(buffer).size(), count);
    return buffer;
  }
  bool Put(const char16_t* section, const char16_t* key, const char16_t* value) const {
    return WritePrivateProfileStringW(section, key, value, Path().c_str()) != FALSE;
  }

  test::TempDir dir_;
};

using ProfileFunctions = ProfileFile;

TEST_F(ProfileFunctions, NamesMatchIgnoringCaseAndSurroundingBlanks) {
  Write("  [ Version ]  \r\n\tFirstVersion\t= 1\r\n second version =2\r\n[Other]\r\nx=3\r\n");
  EXPECT_EQ(Get(u"VERSION", u"firstversion"), u"1");
  EXPECT_EQ(Get(u" version\t", u"  FIRSTVERSION "), u"1");
  EXPECT_EQ(Get(u"Version", u"Second Version"), u"2");
  EXPECT_EQ(Get(u"Version", u"SecondVersion"), u"DEF") << "blanks inside a name count";
  EXPECT_EQ(Get(u"Version", u"x"), u"DEF") << "a key of another section";
}

TEST_F(ProfileFunctions, ValuesLoseSurroundingBlanksAndOnePairOfMatchingQuotes) {
  Write(
      "[S]\r\nplain= \t v w \t\r\ndouble=\"x\"\r\nsingle='y'\r\ninner=\" sp \"\r\n"
      "twice=\"\"z\"\"\r\nmixed=\"z'\r\nlone=\"\r\nempty=\r\nquoted-empty=\"\"\r\n");
  EXPECT_EQ(Get(u"S", u"plain"), u"v w");
  EXPECT_EQ(Get(u"S", u"double"), u"x");
  EXPECT_EQ(Get(u"S", u"single"), u"y");
  EXPECT_EQ(Get(u"S", u"inner"), u" sp ");
  EXPECT_EQ(Get(u"S", u"twice"), u"\"z\"");
  EXPECT_EQ(Get(u"S", u"mixed"), u"\"z'");
  EXPECT_EQ(Get(u"S", u"lone"), u"\"");
  // An empty value is a value: the default is only for what is missing.
  EXPECT_EQ(Get(u"S", u"empty"), u"");
  EXPECT_EQ(Get(u"S", u"quoted-empty"), u"");
}

TEST_F(ProfileFunctions, WhatIsMissingGivesTheDefaultWithoutTrailingSpaces) {
  EXPECT_EQ(Get(u"S", u"k"), u"DEF") << "no file";
  Write("[S]\r\nk=1\r\nvalueless\r\n");
  EXPECT_EQ(Get(u"T", u"k"), u"DEF");
  EXPECT_EQ(Get(u"S", u"j"), u"DEF");
  EXPECT_EQ(Get(u"S", u"valueless"), u"DEF");
  char16_t buffer[16] = {};
  EXPECT_EQ(GetPrivateProfileStringW(u"S", u"j", u" d  ", buffer, 16, Path().c_str()), 2u);
  EXPECT_EQ(std::u16string(buffer), u" d");
  EXPECT_EQ(GetPrivateProfileStringW(u"S", u"j", u"DEFAULT", buffer, 4, Path().c_str()), 3u);
  EXPECT_EQ(std::u16string(buffer), u"DEF");
}

TEST_F(ProfileFunctions, AValueIsCutToTheBuffer) {
  Write("[L]\r\nk=" + std::string(300, '9') + "\r\nq=\"abcdef\"\r\n");
  EXPECT_EQ(Get(u"L", u"k"), std::u16string(254, u'9'));
  EXPECT_EQ(Get(u"L", u"k", 5), u"9999");
  EXPECT_EQ(Get(u"L", u"k", 1), u"");
  EXPECT_EQ(Get(u"L", u"q", 4), u"abc") << "quotes go before the cut";
  EXPECT_EQ(Get(u"L", u"q", 8), u"abcdef");
  char16_t untouched[2] = {u'#', u'#'};
  EXPECT_EQ(GetPrivateProfileStringW(u"L", u"k", u"", untouched, 0, Path().c_str()), 0u);
  EXPECT_EQ(untouched[0], u'#');
}

TEST_F(ProfileFunctions, TheFirstOfSeveralSectionsOrKeysCounts) {
  Write("[D]\r\nk=first\r\nK=second\r\n[d]\r\nk=third\r\nonly=in-second\r\n");
  EXPECT_EQ(Get(u"D", u"k"), u"first");
  EXPECT_EQ(Get(u"D", u"only"), u"DEF");
  ASSERT_TRUE(Put(u"d", u"K", u"new"));
  ASSERT_TRUE(Put(u"d", u"only", u"added"));
  EXPECT_EQ(Get(u"D", u"k"), u"new");
  EXPECT_EQ(Get(u"D", u"only"), u"added");
  EXPECT_NE(Bytes().find("k=third"), std::string::npos);
}

TEST_F(ProfileFunctions, AWriteReplacesAddsTheKeyOrAddsTheSection) {
  Write("[A]\r\nk=1\r\nj=2\r\n[B]\r\nz=3\r\n");
  ASSERT_TRUE(Put(u"a", u"K", u"10"));
  ASSERT_TRUE(Put(u"A", u"n", u"11"));
  ASSERT_TRUE(Put(u"C", u"c", u"12"));
  EXPECT_EQ(Bytes(), "[A]\r\nk=10\r\nj=2\r\nn=11\r\n[B]\r\nz=3\r\n[C]\r\nc=12\r\n");
}

TEST_F(ProfileFunctions, AWriteAddsALineBreakToAnUnfinishedLastLine) {
  Write("[A]\r\nk=1");
  ASSERT_TRUE(Put(u"A", u"q", u"3"));
  ASSERT_TRUE(Put(u"B", u"z", u"4"));
  EXPECT_EQ(Bytes(), "[A]\r\nk=1\r\nq=3\r\n[B]\r\nz=4\r\n");
}

TEST_F(ProfileFunctions, EncodingFollowsTheByteOrderMark) {
  Write(Utf16Bytes(u"[\u00C9t\u00E9]\r\nCl\u00E9=\u4E2D\r\n"));
  EXPECT_EQ(Get(u"\u00C9t\u00E9", u"Cl\u00E9"), u"\u4E2D");
  ASSERT_TRUE(Put(u"\u00C9t\u00E9", u"n", u"\u00E8"));
  EXPECT_EQ(Bytes(), Utf16Bytes(u"[\u00C9t\u00E9]\r\nCl\u00E9=\u4E2D\r\nn=\u00E8\r\n"));
}

TEST_F(ProfileFunctions, AWriteCreatesAMissingFileButNoFolder) {
  ASSERT_TRUE(Put(u"S", u"k", u"v"));
  EXPECT_EQ(Bytes(), "[S]\r\nk=v\r\n");
  const std::u16string nested = test::CoreText(dir_.path() / "no" / "Config.ini");
  EXPECT_FALSE(WritePrivateProfileStringW(u"S", u"k", u"v", nested.c_str()));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "no"));
}

using IniFile = ProfileFile;

TEST_F(IniFile, ReadStringGivesTheDefaultForWhatIsMissingOrEmpty) {
  const CIniFile ini(Path());
  EXPECT_EQ(ini.ReadString(u"S", u"k", u"none"), u"none");
  Write("[S]\r\nk=value\r\nempty=\r\nquoted=\"\"\r\n");
  EXPECT_EQ(ini.ReadString(u"S", u"k", u"none"), u"value");
  EXPECT_EQ(ini.ReadString(u"S", u"empty", u"none"), u"none");
  EXPECT_EQ(ini.ReadString(u"S", u"quoted", u"none"), u"none");
  EXPECT_EQ(ini.ReadString(u"S", u"missing", u""), u"");
}

TEST_F(IniFile, ReadIntReadsDecimalTextLikeWcstol) {
  Write(
      "[VERSION]\r\nminus=-3\r\nletters=abc\r\nmixed=12abc\r\nblanks=\"  42\"\r\n"
      "plus=+7\r\nempty=\r\nhuge=" +
      std::string(300, '9') + "\r\nnegative=-" + std::string(300, '9') + "\r\n");
  const CIniFile ini(Path());
  EXPECT_EQ(ini.ReadInt(u"VERSION", u"minus", 5), -3);
  EXPECT_EQ(ini.ReadInt(u"VERSION", u"letters", 5), 0) << "text without digits is 0";
  EXPECT_EQ(ini.ReadInt(u"VERSION", u"mixed", 5), 12);
  EXPECT_EQ(ini.ReadInt(u"VERSION", u"blanks", 5), 42);
  EXPECT_EQ(ini.ReadInt(u"VERSION", u"plus", 5), 7);
  EXPECT_EQ(ini.ReadInt(u"VERSION", u"empty", 5), 5);
  EXPECT_EQ(ini.ReadInt(u"VERSION", u"missing", -8), -8);
  EXPECT_EQ(ini.ReadInt(u"VERSION", u"huge", 5), 2147483647);
  EXPECT_EQ(ini.ReadInt(u"VERSION", u"negative", 5), -2147483647 - 1);
}

TEST_F(IniFile, WriteIntWritesPercentD) {
  Write("[VERSION]\r\nFirstVersion=0007\r\n");
  const CIniFile ini(Path());
  ini.WriteInt(u"VERSION", u"FirstVersion", -3);
  ini.WriteInt(u"VERSION", u"SecondVersion", -2147483647 - 1);
  EXPECT_EQ(Bytes(), "[VERSION]\r\nFirstVersion=-3\r\nSecondVersion=-2147483648\r\n");
  EXPECT_EQ(ini.ReadInt(u"VERSION", u"FirstVersion", 0), -3);
}

TEST_F(IniFile, WriteStringCreatesAMissingFileAsUtf16) {
  const CIniFile ini(Path());
  ini.WriteString(u"VERSION", u"FirstVersion", u"1");
  EXPECT_EQ(Bytes(), Utf16Bytes(u"[VERSION]\r\nFirstVersion=1\r\n"));
  EXPECT_EQ(ini.ReadString(u"VERSION", u"FirstVersion", u""), u"1");

  // Where no file can be made, nothing is made and nothing is thrown.
  const CIniFile nowhere(test::CoreText(dir_.path() / "missing" / "Config.ini"));
  nowhere.WriteString(u"VERSION", u"FirstVersion", u"1");
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "missing"));
}

using ConfigVersion = ProfileFile;

TEST_F(ConfigVersion, WithoutTheFileNothingIsReadOrWritten) {
  std::int32_t first = 11, second = 22;
  EXPECT_FALSE(ReadConfigVersion(Path(), first, second));
  EXPECT_EQ(first, 11);
  EXPECT_EQ(second, 22);
  WriteConfigVersion(Path(), 1, 42);
  EXPECT_FALSE(std::filesystem::exists(File()));
}

TEST_F(ConfigVersion, AFileWithoutTheSectionReadsAsZero) {
  Write("[Other]\r\nFirstVersion=5\r\n");
  std::int32_t first = 11, second = 22;
  EXPECT_TRUE(ReadConfigVersion(Path(), first, second));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);
}

TEST_F(ConfigVersion, WrittenPairReadsBackAndTheRestOfTheFileStays) {
  Write("[Other]\r\nName=x\r\n[VERSION]\r\nFirstVersion=1\r\nSecondVersion=2\r\n");
  WriteConfigVersion(Path(), 1, 42);
  std::int32_t first = 0, second = 0;
  EXPECT_TRUE(ReadConfigVersion(Path(), first, second));
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 42);
  EXPECT_EQ(Bytes(), "[Other]\r\nName=x\r\n[VERSION]\r\nFirstVersion=1\r\nSecondVersion=42\r\n");
}

TEST_F(ConfigVersion, AnEmptyFileGetsTheSectionInItsEncoding) {
  Write("");
  WriteConfigVersion(Path(), -3, 2147483647);
  EXPECT_EQ(Bytes(), "[VERSION]\r\nFirstVersion=-3\r\nSecondVersion=2147483647\r\n");
  Write("\xFF\xFE");
  WriteConfigVersion(Path(), 1, 42);
  EXPECT_EQ(Bytes(), Utf16Bytes(u"[VERSION]\r\nFirstVersion=1\r\nSecondVersion=42\r\n"));
  std::int32_t first = 0, second = 0;
  EXPECT_TRUE(ReadConfigVersion(Path(), first, second));
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 42);
}

// The build's limit stands unless Config.ini sets one that makes sense, 0 (no limit) included.
TEST_F(IniFile, TheDownloadRateComesFromConfigIniWhenItMakesSenseElseFromTheBuild) {
  constexpr std::uint32_t kBuild = 300;
  EXPECT_EQ(ReadDownloadRate(Path(), kBuild), kBuild) << "no file";
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"512", 512},
      {"0", 0},
      {" 64 ", 64},
      {"1048576", 1048576},
      {"", kBuild},
      {"-5", kBuild},
      {"abc", kBuild},
      {"12abc", kBuild},
      {"+7", kBuild},
      {"1048577", kBuild},
      {"99999999999999999999", kBuild},
      {"1.5", kBuild},
  };
  for (const auto& [value, expected] : cases) {
    Write(std::string("[VERSION]\r\nFirstVersion=1\r\n[Tarvo]\r\nDownloadRate=") + value + "\r\n");
    EXPECT_EQ(ReadDownloadRate(Path(), kBuild), expected) << value;
  }
  Write("[VERSION]\r\nFirstVersion=1\r\n");
  EXPECT_EQ(ReadDownloadRate(Path(), kBuild), kBuild) << "no [Tarvo] section";
}

}  // namespace
}  // namespace tarvo
