#pragma once
// Checking an update site: does every entry of its version list lead to an archive that
// players' launchers will store and install under the entry's versions?

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "unzip/archive_signature.h"

namespace tarvo::publish {

// The page the launcher fetches from the update server's root.
inline constexpr std::string_view kPageName = "zip.html";

// The file that `url` names on a site whose root folder is `site`: the URL's path under that
// folder. Nothing when the URL's path does not lead into the site (see UrlPathSegments).
std::optional<std::filesystem::path> SiteFileForUrl(const std::filesystem::path& site,
                                                    std::string_view url);

// Reads `site`/zip.html and returns one text per problem found (empty when there is none): no
// readable version list; entry tags that do not pair up; entries without 13 digits or without
// an archive URL; archives missing from the site (looked up by URL path, or by name in
// `archives` when given), or that the launcher's zip reader does not open (ZipCheckArchive: a
// download it would never store); two entries with the same versions; with `key`, archives that
// are not signed with it for their entry's versions; removal lists that launchers cannot read,
// or names in them that launchers refuse to remove; patches that launchers cannot read, and
// segments they may need that their store (`store`, or where their store URL leads in the site)
// lacks or holds wrong. With `removals`, one text is added to it for each file or folder that a
// listed archive removes from players' installations.
// Throws std::runtime_error when the page cannot be read.
std::vector<std::string> CheckSite(
    const std::filesystem::path& site, const std::optional<std::filesystem::path>& archives,
    const std::optional<PublicKey>& key = std::nullopt,
    std::vector<std::string>* removals = nullptr,
    const std::optional<std::filesystem::path>& store = std::nullopt);

}  // namespace tarvo::publish
