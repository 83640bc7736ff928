#pragma once
// Whether a web server that runs as another user can serve a file: nginx's workers run as
// www-data or nobody, and a file they cannot read, or a folder on its way they cannot enter,
// gives every player "403 Forbidden".

#include <filesystem>
#include <string>
#include <vector>

namespace tarvo::publish {

// One text for each of `files` that others may not read, and each folder on the way to them
// (up to the root) that others may not enter, with the command that fixes it; each path once.
std::vector<std::string> UnservableByOthers(const std::vector<std::filesystem::path>& files);

}  // namespace tarvo::publish
