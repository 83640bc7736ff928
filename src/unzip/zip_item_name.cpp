#include "unzip/zip_item_name.h"

#include <algorithm>
#include <array>

#include "common/utf.h"
#include "common/windows_names.h"
#include "platform/text.h"

namespace tarvo {

namespace {

bool IsUpLevelComponent(std::u16string_view component) {
  const auto dots = std::count(component.begin(), component.end(), u'.');
  return dots >= 2 && std::all_of(component.begin(), component.end(),
                                  [](char16_t c) { return c == u'.' || c == u' '; });
}

// Drops "." and empty components and the dots and spaces that end a component, each with the
// separator after it.
std::u16string OneSpelling(std::u16string_view name) {
  std::u16string spelled;
  for (std::size_t start = 0; start < name.size();) {
    std::size_t end = start;
    while (end < name.size() && !IsZipPathSeparator(name[end])) ++end;
    std::u16string_view component = name.substr(start, end - start);
    if (!IsUpLevelComponent(component)) {
      while (!component.empty() && (component.back() == u'.' || component.back() == u' ')) {
        component.remove_suffix(1);
      }
    }
    if (!component.empty()) {
      spelled.append(component);
      if (end < name.size()) spelled.push_back(name[end]);
    }
    start = end + 1;
  }
  // A file's name does not become a folder's for losing its last component.
  if (!spelled.empty() && !name.empty() && !IsZipPathSeparator(name.back()) &&
      IsZipPathSeparator(spelled.back())) {
    spelled.pop_back();
  }
  return spelled;
}

}  // namespace

bool IsAbsoluteZipPath(std::u16string_view path) {
  return (!path.empty() && IsZipPathSeparator(path[0])) || (path.size() >= 2 && path[1] == u':');
}

bool DecodeZipItemName(std::string_view raw, bool utf8Flag, std::size_t maxUnits,
                       std::u16string* name) {
  if (raw.find('\0') != std::string_view::npos) return false;
  std::u16string decoded = Utf8ToUtf16(raw);
  // Valid UTF-8 is exactly what survives the way there and back.
  if (Utf16ToUtf8(decoded) != raw) {
    if (utf8Flag) return false;
    std::optional<std::u16string> oem = OemCodePageToUtf16(raw);
    if (!oem || oem->find(u'\0') != std::u16string::npos) return false;
    decoded = std::move(*oem);
  }
  if (decoded.size() > maxUnits) return false;
  *name = std::move(decoded);
  return true;
}

std::u16string CleanZipItemName(std::u16string name) {
  static constexpr std::array<std::u16string_view, 4> kUpLevels = {u"\\..\\", u"\\../", u"/../",
                                                                   u"/..\\"};
  for (;;) {
    if (name.size() >= 2 && name[1] == u':') {
      name.erase(0, 2);
      continue;
    }
    if (!name.empty() && IsZipPathSeparator(name[0])) {
      name.erase(0, 1);
      continue;
    }
    // Each pattern is searched in the whole name, in this order, and cut at its first
    // occurrence, even when a later pattern stands earlier in the name.
    bool cut = false;
    for (const std::u16string_view pattern : kUpLevels) {
      const std::size_t at = name.find(pattern);
      if (at != std::u16string::npos) {
        name.erase(0, at + pattern.size());
        cut = true;
        break;
      }
    }
    if (cut) continue;
    // Then one spelling; what it drops may uncover a drive or a separator at the front.
    std::u16string spelled = OneSpelling(name);
    if (spelled == name) return name;
    name = std::move(spelled);
  }
}

bool IsExtractablePath(std::u16string_view path) {
  std::size_t start = 0;
  for (;;) {
    std::size_t end = start;
    while (end < path.size() && !IsZipPathSeparator(path[end])) ++end;
    const std::u16string_view component = path.substr(start, end - start);
    if (IsUpLevelComponent(component) || IsWindowsDeviceName(component)) return false;
    if (end >= path.size()) return true;
    start = end + 1;
  }
}

}  // namespace tarvo
