#pragma once
// Writing an update archive that players' launchers install over their installation.

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <vector>

#include "publish/installation_tree.h"

namespace tarvo::publish {

// Writes a new zip archive at `path` (replacing a file there) holding `items` in their order:
// files deflated (stored when marked so), folders as stored folder items. Names are UTF-8 (flagged
// so); every item carries MS-DOS attributes (archive, or directory), so no installed file ends up
// read-only; its time is the source's modification time, as a DOS time in local time and as an
// extended timestamp. An item that may reach 4 GiB, stored or deflated, is written with zip64
// blocks, and an archive past 4 GiB or of 65,535 items or more with a zip64 end record; there is no
// limit of size. Progress lines go to `progress` for large archives. Throws std::runtime_error
// naming what failed; a partly written file stays for the caller to remove.
void WriteUpdateArchive(const std::filesystem::path& path, const std::vector<TreeNode>& items,
                        std::ostream& progress);

}  // namespace tarvo::publish
