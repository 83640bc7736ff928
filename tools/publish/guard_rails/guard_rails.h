#pragma once
// The mistakes an update can be published with that players pay for: checked before anything is
// written, each a warning that says how to mend it, or a refusal where it can only be a mistake.
//   - an unsigned update when the previous tree's launcher takes signed ones alone (refused),
//     or after signed ones on the site; one signed with another key than that launcher's
//     (refused);
//   - a step after cumulative archives, or the other way round (archive_bases.h);
//   - a launcher in the update built for another update host (refused for a host on the
//     machine itself) or another key than the previous tree's.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "publish/command_line.h"
#include "publish/guard_rails/archive_bases.h"
#include "publish/tree_changes.h"
#include "publish/version_page.h"
#include "unzip/archive_signing.h"

namespace tarvo::publish {

struct GuardRailInput {
  VersionKey update;                  // the versions published
  std::optional<VersionKey> base;     // what the previous tree records, when it has Sys/Config.ini
  const VersionList* list = nullptr;  // the site's version list before the update
  // The file of a listed entry's archive on the site, when it leads to one.
  std::function<std::optional<std::filesystem::path>(const VersionEntry&)> listedArchive;
  std::optional<PublicKey> signingKey;  // the public key of the key it is signed with
  std::optional<std::filesystem::path> previousLauncher;  // the previous tree's Tarvo.exe
  std::optional<std::filesystem::path> newLauncher;       // the update's Tarvo.exe
  ArchiveBases bases;
};

struct GuardRailFindings {
  std::vector<std::string> warnings;
  std::vector<std::string> refusals;
};

// Never throws but for lack of memory: what cannot be read is a warning.
GuardRailFindings CheckGuardRails(const GuardRailInput& input);

// The guard rails of publishing `options`: `changes` from the `previous` tree, which records
// `base` (when it has a configuration), onto a site whose version list is `list`, signed with
// `signKey` when given.
GuardRailFindings CheckPublishGuardRails(const PublishOptions& options,
                                         const InstallationTree& previous,
                                         const TreeChanges& changes, const VersionList& list,
                                         const std::optional<VersionKey>& base,
                                         const std::optional<SecretKey>& signKey);

// Once the update is published: notes its base in the site's record (archive_bases.h) and
// returns the warnings for the next step: files of `written` that a web server running as
// another user could not serve, or a record that could not be written.
std::vector<std::string> NotePublished(const PublishOptions& options,
                                       const std::optional<VersionKey>& base,
                                       const std::vector<std::filesystem::path>& written);

}  // namespace tarvo::publish
