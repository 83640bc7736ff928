#pragma once
// Where the launcher's files are: everything lies in or under the directory of its own
// executable. Both paths are built afresh on every call.

#include <string>

namespace tarvo {

// The directory of the running executable, ending in a backslash (a lone backslash when the
// executable's path holds none). Empty when the system does not give the whole path: the
// caller then has no installation to work on.
std::u16string GetProgramDirectory();

// The program directory followed by "Sys\Config.ini". Does not test whether the file exists.
std::u16string GetConfigPath();

}  // namespace tarvo
