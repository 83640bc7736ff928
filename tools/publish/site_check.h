#pragma once
// Checking an update site: does every entry of its version list lead to an archive that
// players' launchers will store and install under the entry's versions?

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "publish/version_page.h"
#include "unzip/archive_signature.h"

namespace tarvo::publish {

// The page the launcher fetches from the update server's root.
inline constexpr std::string_view kPageName = "zip.html";

// The file that `url` names on a site whose root folder is `site`: the URL's path under that
// folder. Nothing when the URL's path does not lead into the site (see UrlPathSegments).
std::optional<std::filesystem::path> SiteFileForUrl(const std::filesystem::path& site,
                                                    std::string_view url);

// The file of an archive that a version list entry's `url` names: by the URL's last segment in
// `archives` when given, else by the URL's path under `site` (SiteFileForUrl).
std::optional<std::filesystem::path> ListedArchivePath(
    std::string_view url, const std::filesystem::path& site,
    const std::optional<std::filesystem::path>& archives);

// Checks the archive of one entry that has a URL, adding what is wrong to `problems`, each text
// beginning with `label` ("line 4, entry 0000100000003").
using ArchiveCheck = std::function<void(const VersionEntry& entry, const std::string& label,
                                        std::vector<std::string>& problems)>;

// The problems of a version page as the launcher reads it, `pageName` naming it: no readable
// version list; entry tags that do not pair up; entries without 13 digits or without an archive
// URL; two entries with the same versions; and those `archive` finds for each entry with a URL.
std::vector<std::string> CheckVersionPage(std::string_view page, const std::string& pageName,
                                          const ArchiveCheck& archive);

// What a check notes beside its problems.
struct SiteNotes {
  // One text for each file or folder that a listed archive removes from players' installations.
  std::vector<std::string> removals;
  // Files of the site, and folders on the way to them, that a web server running as another
  // user could not serve (served_files.h).
  std::vector<std::string> unservable;
};

// Reads `site`/zip.html and returns one text per problem found (empty when there is none):
// those of CheckVersionPage, and archives missing from the site (looked up by URL path, or by
// name in `archives` when given) or that the launcher's zip reader does not open
// (ZipCheckArchive: a download it would never store); with `key`, archives that are not signed
// with it for their entry's versions (of `signedSince` or newer, when given); removal lists
// that launchers cannot read, or names in them that launchers refuse to remove; items of one
// archive that name the same file (SameFileItems); patches that launchers cannot read, and
// segments they may need that their store (`store`, or where their store URL leads in the site)
// lacks or holds wrong. With `notes`,
// what it notes besides. Throws std::runtime_error when the page cannot be read.
std::vector<std::string> CheckSite(
    const std::filesystem::path& site, const std::optional<std::filesystem::path>& archives,
    const std::optional<PublicKey>& key = std::nullopt, SiteNotes* notes = nullptr,
    std::optional<VersionKey> signedSince = std::nullopt,
    const std::optional<std::filesystem::path>& store = std::nullopt);

}  // namespace tarvo::publish
