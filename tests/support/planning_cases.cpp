#include "support/planning_cases.h"

#include <array>
#include <limits>

namespace tarvo::test {

namespace {

// Pieces of a hostile list body: whole entries, tags, pieces of tags and of entries. Tags
// appear more than once to make them frequent.
constexpr std::array<std::u16string_view, 54> kPieces = {
    u"<Version>0000100000003http://h/u/0000100000003.zip</Version>",
    u"<Version>0000100000002http://h/u/0000100000002.zip</Version>",
    u"<Version>0000000000001http://h/0.zip</Version>",
    u"<Version>-000100000005http://h/n.zip</Version>",
    u"<Version>0000100000004up\\0000100000004.zip</Version>",
    u"\r\n<Version>0000000000000http://h/a.zip</Version>\r\n",
    u"<Version>",
    u"</Version>",
    u"<Version>",
    u"</Version>",
    u"<Version>0000100000009",
    u"<",
    u"</",
    u"<Ver",
    u"sion>",
    u"</Ver",
    u"<Vers",
    u"ion>",
    u"</Versi",
    u"on>",
    u"V",
    u"ersion>",
    u"Version",
    u">",
    u"/",
    u"\\",
    u":",
    u".",
    u"..",
    u"0000100000003http://h/u/0000100000003.zip",
    u"0000100000002http://h/u/0000100000002.zip",
    u"0000000000001http://h/a.zip",
    u"-000100000005http://h/b.zip",
    u"00001",
    u"00000009",
    u"0000000000000",
    u"0",
    u"1",
    u"-",
    u"+",
    u" ",
    u"\r\n",
    u"http://h/",
    u"a.zip",
    u"x\\y.zip",
    u"c:d",
    u"?q=1/",
    u"<vlVersionList>",
    u"</vlVersionList>",
    u"<version>",
    u"</version>",
    u"\u00e9",
    u"e",
    u"<!-- -->",
};

struct Versions {
  bool hasConfig;
  std::int32_t first;
  std::int32_t second;
};

constexpr std::array<Versions, 8> kVersions = {{
    {true, 1, 2},
    {true, 1, 1},
    {true, 0, -1},
    {true, 0, 0},
    {true, 1, 0},
    {true, -1, -1},
    {true, 0, std::numeric_limits<std::int32_t>::min()},
    {false, 0, 0},
}};

}  // namespace

PlanningCase MakePlanningCase(std::string_view bytes) {
  PlanningCase result;
  if (bytes.empty()) return result;
  const auto mode = static_cast<unsigned char>(bytes[0]);
  const Versions& versions = kVersions[mode % kVersions.size()];
  result.hasConfig = versions.hasConfig;
  result.first = versions.first;
  result.second = versions.second;
  bytes.remove_prefix(1);

  // A quarter of the pages, among them those of text seeds that begin with "0", are raw.
  if ((mode & 0x30) == 0x30) {
    for (char b : bytes) result.page += static_cast<char16_t>(static_cast<unsigned char>(b));
    return result;
  }
  const bool wrapped = (mode & 0x08) == 0;
  if (wrapped) result.page += u"<html><vlVersionList>";
  for (char b : bytes) {
    const auto piece = static_cast<unsigned char>(b);
    if (piece < 128) {
      result.page += kPieces[piece % kPieces.size()];
      continue;
    }
    // A tag cut in two at any point: its head or its tail, for removals to join.
    const std::u16string_view tag = (piece & 1) != 0 ? u"</Version>" : u"<Version>";
    const std::size_t cut = (piece >> 1) % (tag.size() - 1) + 1;
    result.page += (piece & 0x40) != 0 ? tag.substr(0, cut) : tag.substr(cut);
  }
  if (wrapped) result.page += u"</vlVersionList></html>";
  return result;
}

}  // namespace tarvo::test
