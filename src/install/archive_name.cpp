#include "install/archive_name.h"

#include "common/decimal.h"

namespace tarvo {

std::u16string FileNameFromPath(std::u16string_view path) {
  const auto slash = path.rfind(u'\\');
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

std::u16string FileTitleFromPath(std::u16string_view path) {
  std::u16string name = FileNameFromPath(path);
  const auto dot = name.rfind(u'.');
  if (dot == std::u16string::npos) return {};
  name.erase(dot);
  return name;
}

std::optional<ArchiveVersions> VersionsFromFileTitle(std::u16string_view title) {
  if (!StartsWithDigits(title, 13)) return std::nullopt;
  return ArchiveVersions{ParseDecimal(title.substr(0, 5)), ParseDecimal(title.substr(5, 8))};
}

}  // namespace tarvo
