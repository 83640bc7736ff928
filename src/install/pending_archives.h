#pragma once
// The archives that an earlier start downloaded into "UpdateZip\": installed over the
// installation, then deleted, before the update check of this start runs.

#include <string>

namespace tarvo {

// Extracts every "*.zip" file of "UpdateZip\" (directories skipped) over the program directory,
// in directory-search order, and after each one records the versions its file name carries.
// Reports nothing: an archive that cannot be read or extracted still has its versions recorded.
void InstallPendingArchives();
// The same for the installation at `programDirectory` (ending in "\").
void InstallPendingArchives(const std::u16string& programDirectory);

// Deletes every "*.zip" file of "UpdateZip\" and every "*.part" file that an interrupted
// download left there. The folder itself stays.
void DeletePendingArchives();
void DeletePendingArchives(const std::u16string& programDirectory);

}  // namespace tarvo
