#pragma once
// The version list inside the update server's page (zip.html): finding it as the launcher finds
// it, reading its entries, and adding or replacing one while every other byte of the page stays
// as it was. The page is handled as bytes: its tags and entries are ASCII, and whatever else it
// holds is the operator's and is never re-encoded.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::publish {

inline constexpr std::string_view kListOpenTag = "<vlVersionList>";
inline constexpr std::string_view kListCloseTag = "</vlVersionList>";
inline constexpr std::string_view kEntryOpenTag = "<Version>";
inline constexpr std::string_view kEntryCloseTag = "</Version>";

// An entry's text is 5 characters of first version, 8 of second version, then the archive URL.
inline constexpr std::size_t kFirstVersionWidth = 5;
inline constexpr std::size_t kSecondVersionWidth = 8;
inline constexpr std::size_t kVersionDigits = kFirstVersionWidth + kSecondVersionWidth;
inline constexpr std::int32_t kMaxFirstVersion = 99999;
inline constexpr std::int32_t kMaxSecondVersion = 99999999;

struct VersionKey {
  std::int32_t first = 0;
  std::int32_t second = 0;
  auto operator<=>(const VersionKey&) const = default;
};

struct VersionEntry {
  std::size_t begin = 0;  // offset of the entry's opening tag in the page
  std::size_t end = 0;    // offset just past its closing tag
  std::size_t line = 0;   // line of the opening tag, from 1
  std::string text;       // what stands between the two tags
  VersionKey key;         // the two fields of `text`, read as the launcher reads them

  // The text after the 13 version characters; empty when the text is shorter than 14.
  std::string_view Url() const;
};

enum class ListState {
  kFound,
  kMissing,             // no opening tag, or no closing tag, anywhere in the page
  kClosedBeforeOpened,  // the first closing tag comes first: the launcher sees an empty list
};

struct VersionList {
  ListState state = ListState::kMissing;
  std::size_t bodyBegin = 0;          // just past the page's first opening tag
  std::size_t bodyEnd = 0;            // the page's first closing tag
  std::vector<VersionEntry> entries;  // in page order
  // Entry tags that do not pair up one after the other. The launcher pairs the first opening tag
  // with the first closing tag left in the list, so around such tags it reads other entries than
  // a reader of the page sees; each text names the line.
  std::vector<std::string> faults;
};

// Finds the list the launcher reads (between the page's first opening tag and its first closing
// tag) and its entries. Never throws on any input but running out of memory.
VersionList ParseVersionList(std::string_view page);

// The two fields at the start of an entry's text, read by the rules the launcher uses
// (wcstol in base 10): a field without digits reads as 0.
VersionKey ReadVersionKey(std::string_view entryText);

// The 13 version characters of `key` ("%05d%08d"). The key must lie within the widths.
std::string FormatVersionDigits(VersionKey key);

// "FIRST/SECOND", as operators write versions.
std::string VersionsText(VersionKey key);

// A page holding nothing but an empty version list, for a site that has none yet.
std::string NewVersionPage();

// The page with "<Version>" + `entryText` + "</Version>" added to its list (whose state must be
// kFound): before the first entry whose key is greater than the new one, else after the last.
// The new entry takes a line of its own, indented like its neighbour, when the entries stand on
// lines of their own; the page's line ending (CRLF or LF) is kept.
std::string AddVersionEntry(std::string_view page, const VersionList& list,
                            std::string_view entryText);

// The page with the text of every entry whose key equals `key` replaced by `entryText`.
std::string ReplaceVersionEntries(std::string_view page, const VersionList& list, VersionKey key,
                                  std::string_view entryText);

}  // namespace tarvo::publish
