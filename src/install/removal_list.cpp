#include "install/removal_list.h"

#include <algorithm>

#include "common/utf.h"
#include "common/windows_names.h"
#include "unzip/zip_archive.h"
#include "unzip/zip_item_name.h"

namespace tarvo {

namespace {

char16_t FoldForPath(char16_t c) {
  if (c == u'/') return u'\\';
  if (c == u'\u0131') return u'I';
  if (c == u'\u017F') return u'S';
  return FoldAsciiCase(c);
}

bool StartsWithPath(std::u16string_view path, std::u16string_view prefix) {
  return path.size() >= prefix.size() && SameWindowsPath(path.substr(0, prefix.size()), prefix);
}

// A part like "PROGRA~1": "~" and a digit, as Windows writes the short names it makes.
bool LooksLikeShortName(std::u16string_view component) {
  for (std::size_t i = 0; i + 1 < component.size(); ++i) {
    if (component[i] == u'~' && component[i + 1] >= u'0' && component[i + 1] <= u'9') return true;
  }
  return false;
}

bool IsPlainComponent(std::u16string_view component) {
  if (component.empty() || component.back() == u'.' || component.back() == u' ') return false;
  const bool forbidden = std::any_of(component.begin(), component.end(), [](char16_t c) {
    return c < 0x20 || std::u16string_view(u":*?\"<>|").find(c) != std::u16string_view::npos;
  });
  return !forbidden && !LooksLikeShortName(component);
}

}  // namespace

bool SameWindowsPath(std::u16string_view a, std::u16string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char16_t x, char16_t y) { return FoldForPath(x) == FoldForPath(y); });
}

bool IsRemovalListItem(std::u16string_view itemName) {
  return SameWindowsPath(itemName, Utf8ToUtf16(kRemovalListItemName));
}

std::optional<std::u16string> RemovableName(std::string_view raw) {
  std::u16string name;
  if (!DecodeZipItemName(raw, false, kZipNameSize - 1, &name) || name.empty()) return std::nullopt;
  if (IsAbsoluteZipPath(name) || CleanZipItemName(name) != name || !IsExtractablePath(name)) {
    return std::nullopt;
  }
  std::replace(name.begin(), name.end(), u'/', u'\\');
  for (std::size_t start = 0; start <= name.size();) {
    const std::size_t end = std::min(name.find(u'\\', start), name.size());
    if (!IsPlainComponent(std::u16string_view(name).substr(start, end - start))) {
      return std::nullopt;
    }
    start = end + 1;
  }
  if (SameWindowsPath(name, u"UpdateZip") || StartsWithPath(name, u"UpdateZip\\") ||
      SameWindowsPath(name, u"Sys\\Config.ini")) {
    return std::nullopt;
  }
  return name;
}

std::optional<RemovalList> ParseRemovalList(std::string_view text) {
  RemovalList list;
  bool header = true;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (header) {
      if (line != kRemovalListHeader) return std::nullopt;
      header = false;
      continue;
    }
    if (line.empty()) continue;
    const bool folder = line.back() == '/' || line.back() == '\\';
    const std::optional<std::u16string> name =
        RemovableName(folder ? line.substr(0, line.size() - 1) : line);
    if (!name) {
      list.refused.emplace_back(line);
    } else {
      (folder ? list.folders : list.files).push_back(*name);
    }
  }
  if (header) return std::nullopt;
  // A folder's path is longer than its parent's: the longest first empties children first.
  std::stable_sort(
      list.folders.begin(), list.folders.end(),
      [](const std::u16string& a, const std::u16string& b) { return a.size() > b.size(); });
  return list;
}

std::string FormatRemovalList(const std::vector<std::string>& files,
                              const std::vector<std::string>& folders) {
  std::string text = std::string(kRemovalListHeader) + "\n";
  for (const std::string& file : files) text += file + "\n";
  for (const std::string& folder : folders) text += folder + "/\n";
  return text;
}

}  // namespace tarvo
