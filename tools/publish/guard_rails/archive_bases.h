#pragma once
// What each published archive was compared with: the versions its previous tree recorded (its
// base), kept beside the site's version list so that the next update can be held against the
// way the earlier ones were made. An archive whose base is older than another entry of its line
// before it holds every change since that base (cumulative); one whose base is the last entry
// before it holds one step.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "publish/version_page.h"

namespace tarvo::publish {

// The record's name in the site folder.
inline constexpr std::string_view kArchiveBasesName = "tarvo-bases.txt";

// The base of each archive, by the archive's versions.
using ArchiveBases = std::map<VersionKey, VersionKey>;

// The record in `site`; empty when there is none. Lines it cannot read are passed over.
ArchiveBases ReadArchiveBases(const std::filesystem::path& site);

// Replaces the record in `site` as a whole (written beside it, then renamed). Throws
// std::runtime_error naming the file when it cannot be written.
void WriteArchiveBases(const std::filesystem::path& site, const ArchiveBases& bases);

enum class ArchiveKind {
  kFirst,       // no entry of its line stands at or before its base: nothing to tell
  kStep,        // no entry of its line lies between its base and itself
  kCumulative,  // entries of its line lie between its base and itself, and it holds them all
};

// The kind of the archive of `versions` made against `base`, given the versions listed.
ArchiveKind KindOfArchive(VersionKey versions, VersionKey base,
                          const std::vector<VersionKey>& listed);

// Why an archive of `versions` made against `base` breaks with the way the listed archives
// before it were made (a step after cumulative ones, or the other way round), with the fix;
// nothing when it does not, or when nothing can be told.
std::optional<std::string> ArchiveKindWarning(VersionKey versions, VersionKey base,
                                              const std::vector<VersionKey>& listed,
                                              const ArchiveBases& bases);

}  // namespace tarvo::publish
