#include "publish/item_names.h"

#include <array>

#include "common/utf.h"
#include "common/windows_names.h"

namespace tarvo::publish {

namespace {

std::optional<std::string> ComponentProblem(std::string_view component) {
  for (const char c : component) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20) return "holds a control character";
    if (std::string_view("\\:*?\"<>|").find(c) != std::string_view::npos) {
      return std::string("holds the character ") + c + ", which Windows does not allow in names";
    }
  }
  if (component.back() == '.' || component.back() == ' ') {
    return "has a part ending in a dot or a space, which Windows drops";
  }
  if (IsWindowsDeviceName(Utf8ToUtf16(component)))
    return "has a part that is a device name on Windows";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ItemNameProblem(std::string_view name) {
  if (Utf16ToUtf8(Utf8ToUtf16(name)) != name) return "is not valid UTF-8";
  if (name.size() > kMaxItemNameBytes) {
    return "is longer than the " + std::to_string(kMaxItemNameBytes) +
           " bytes an item name can have";
  }
  std::string_view rest = name;
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view component = rest.substr(0, slash);
    if (component.empty()) return "has an empty part";
    if (auto problem = ComponentProblem(component)) return problem;
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return std::nullopt;
}

std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

}  // namespace tarvo::publish
