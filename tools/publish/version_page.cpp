#include "publish/version_page.h"

#include <algorithm>
#include <cstdio>

#include "common/decimal.h"

namespace tarvo::publish {

namespace {

std::size_t LineAt(std::string_view page, std::size_t offset) {
  return 1 + static_cast<std::size_t>(std::count(page.begin(), page.begin() + offset, '\n'));
}

// Network bytes widened one to one: the fields are ASCII, and any other byte is no digit and no
// white space to the decimal reader, as it is after the launcher's code-page conversion.
std::int32_t ReadField(std::string_view text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (const char c : text) wide.push_back(static_cast<unsigned char>(c));
  return ParseDecimal(wide);
}

bool IsBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; });
}

// Start of the line that holds `offset`, or npos when that line begins before `floor`.
std::size_t LineStartWithin(std::string_view page, std::size_t offset, std::size_t floor) {
  const std::size_t newline = offset == 0 ? std::string_view::npos : page.rfind('\n', offset - 1);
  const std::size_t start = newline == std::string_view::npos ? 0 : newline + 1;
  return start < floor ? std::string_view::npos : start;
}

std::string_view LineEnding(std::string_view page) {
  return page.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
}

std::string Spliced(std::string_view page, std::size_t at, std::string_view insert) {
  std::string result;
  result.reserve(page.size() + insert.size());
  result.append(page.substr(0, at));
  result.append(insert);
  result.append(page.substr(at));
  return result;
}

}  // namespace

std::string_view VersionEntry::Url() const {
  return text.size() > kVersionDigits ? std::string_view(text).substr(kVersionDigits)
                                      : std::string_view();
}

VersionKey ReadVersionKey(std::string_view entryText) {
  const std::string_view first = entryText.substr(0, kFirstVersionWidth);
  const std::string_view second = entryText.size() > kFirstVersionWidth
                                      ? entryText.substr(kFirstVersionWidth, kSecondVersionWidth)
                                      : std::string_view();
  return {ReadField(first), ReadField(second)};
}

std::string FormatVersionDigits(VersionKey key) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%05d%08d", static_cast<int>(key.first),
                static_cast<int>(key.second));
  return digits;
}

VersionList ParseVersionList(std::string_view page) {
  VersionList list;
  const std::size_t open = page.find(kListOpenTag);
  const std::size_t close = page.find(kListCloseTag);
  if (open == std::string_view::npos || close == std::string_view::npos) return list;
  if (close < open) {
    list.state = ListState::kClosedBeforeOpened;
    return list;
  }
  list.state = ListState::kFound;
  list.bodyBegin = open + kListOpenTag.size();
  list.bodyEnd = close;

  const std::string_view body = page.substr(0, list.bodyEnd);
  std::size_t at = list.bodyBegin;
  for (;;) {
    const std::size_t entryOpen = body.find(kEntryOpenTag, at);
    const std::size_t strayClose = body.find(kEntryCloseTag, at);
    if (strayClose < entryOpen) {
      list.faults.push_back("line " + std::to_string(LineAt(page, strayClose)) + ": " +
                            std::string(kEntryCloseTag) + " without an entry before it");
      at = strayClose + kEntryCloseTag.size();
      continue;
    }
    if (entryOpen == std::string_view::npos) break;
    const std::size_t textBegin = entryOpen + kEntryOpenTag.size();
    const std::size_t entryClose = body.find(kEntryCloseTag, textBegin);
    const std::size_t nextOpen = body.find(kEntryOpenTag, textBegin);
    if (entryClose == std::string_view::npos) {
      list.faults.push_back("line " + std::to_string(LineAt(page, entryOpen)) + ": " +
                            std::string(kEntryOpenTag) + " without its " +
                            std::string(kEntryCloseTag));
      break;
    }
    if (nextOpen < entryClose) {
      list.faults.push_back("line " + std::to_string(LineAt(page, nextOpen)) + ": " +
                            std::string(kEntryOpenTag) + " inside the entry of line " +
                            std::to_string(LineAt(page, entryOpen)));
      at = nextOpen;
      continue;
    }
    VersionEntry entry;
    entry.begin = entryOpen;
    entry.end = entryClose + kEntryCloseTag.size();
    entry.line = LineAt(page, entryOpen);
    entry.text = std::string(body.substr(textBegin, entryClose - textBegin));
    entry.key = ReadVersionKey(entry.text);
    list.entries.push_back(std::move(entry));
    at = list.entries.back().end;
  }
  return list;
}

std::string VersionsText(VersionKey key) {
  return std::to_string(key.first) + "/" + std::to_string(key.second);
}

std::string NewVersionPage() {
  return "<!DOCTYPE html>\n"
         "<html>\n"
         "<head><title>Velmora updates</title></head>\n"
         "<body>\n"
         "<vlVersionList>\n"
         "</vlVersionList>\n"
         "</body>\n"
         "</html>\n";
}

std::string AddVersionEntry(std::string_view page, const VersionList& list,
                            std::string_view entryText) {
  const std::string entry =
      std::string(kEntryOpenTag) + std::string(entryText) + std::string(kEntryCloseTag);
  const std::string_view eol = LineEnding(page);
  const VersionKey key = ReadVersionKey(entryText);

  const auto greater = std::find_if(list.entries.begin(), list.entries.end(),
                                    [&](const VersionEntry& e) { return key < e.key; });
  if (greater != list.entries.end()) {
    // Before that entry: on a line of its own when the entry starts its line.
    const std::size_t start = LineStartWithin(page, greater->begin, list.bodyBegin);
    if (start != std::string_view::npos && IsBlank(page.substr(start, greater->begin - start))) {
      const std::string_view indent = page.substr(start, greater->begin - start);
      return Spliced(page, start, std::string(indent) + entry + std::string(eol));
    }
    return Spliced(page, greater->begin, entry);
  }

  if (!list.entries.empty()) {
    // After the last entry: on the next line when the last one has a line of its own.
    const VersionEntry& last = list.entries.back();
    const std::size_t start = LineStartWithin(page, last.begin, list.bodyBegin);
    const std::size_t newline = page.find('\n', last.end);
    if (start != std::string_view::npos && IsBlank(page.substr(start, last.begin - start)) &&
        newline < list.bodyEnd) {
      std::string_view rest = page.substr(last.end, newline - last.end);
      if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
      if (IsBlank(rest)) {
        const std::string_view indent = page.substr(start, last.begin - start);
        return Spliced(page, newline + 1, std::string(indent) + entry + std::string(eol));
      }
    }
    return Spliced(page, last.end, entry);
  }

  // An empty list: on a line of its own before the closing tag when that tag starts its line.
  const std::size_t start = LineStartWithin(page, list.bodyEnd, list.bodyBegin);
  if (start != std::string_view::npos && IsBlank(page.substr(start, list.bodyEnd - start))) {
    const std::string_view indent = page.substr(start, list.bodyEnd - start);
    return Spliced(page, start, std::string(indent) + entry + std::string(eol));
  }
  return Spliced(page, list.bodyEnd, entry);
}

std::string ReplaceVersionEntries(std::string_view page, const VersionList& list, VersionKey key,
                                  std::string_view entryText) {
  std::string result;
  result.reserve(page.size() + entryText.size());
  std::size_t copied = 0;
  for (const VersionEntry& entry : list.entries) {
    if (entry.key != key) continue;
    const std::size_t textBegin = entry.begin + kEntryOpenTag.size();
    const std::size_t textEnd = entry.end - kEntryCloseTag.size();
    result.append(page.substr(copied, textBegin - copied));
    result.append(entryText);
    copied = textEnd;
  }
  result.append(page.substr(copied));
  return result;
}

}  // namespace tarvo::publish
