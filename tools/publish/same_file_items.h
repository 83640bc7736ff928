#pragma once
// Items of an archive that a player's launcher writes to one and the same file.

#include <filesystem>
#include <string>
#include <vector>

namespace tarvo::publish {

// One text for each item of `archive` that names the same file as an earlier one, as the
// launcher reads names (its cleaning: "." and empty parts dropped, and the dots and spaces
// ending a part) and Windows compares them ("\" and "/" alike, letters in either case): only
// the last of them stays, and a special name spelled another way ("./Sys/Config.ini") is still
// the special file. Nothing for an archive the launcher's reader does not open.
std::vector<std::string> SameFileItems(const std::filesystem::path& archive);

}  // namespace tarvo::publish
