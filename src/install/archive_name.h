#pragma once
// What a pending archive's file name says: the version pair the installation reaches once the
// archive is installed.

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo {

// The text after the last "\" of `path`, or all of it when it has none.
std::u16string FileNameFromPath(std::u16string_view path);

// FileNameFromPath(path) cut before its last "."; empty when that name has no ".".
std::u16string FileTitleFromPath(std::u16string_view path);

struct ArchiveVersions {
  std::int32_t first = 0;
  std::int32_t second = 0;
  auto operator<=>(const ArchiveVersions&) const = default;
};

// The versions a file title carries when it begins with 13 decimal digits: characters 1 to 5
// are the first version, characters 6 to 13 the second; the rest of the title is ignored.
// Nothing for any other title: a zip file that some other hand put in "UpdateZip\" says
// nothing about the installation's versions.
std::optional<ArchiveVersions> VersionsFromFileTitle(std::u16string_view title);

}  // namespace tarvo
