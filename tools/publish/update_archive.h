#pragma once
// Writing an update archive that players' launchers install over their installation.

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "publish/installation_tree.h"
#include "unzip/archive_signature.h"

namespace tarvo::publish {

// The launcher stores an archive only when its length is below the largest signed 32-bit
// integer; room is left for the signature that signing adds to the end record's comment.
inline constexpr std::uint64_t kMaxArchiveBytes = 0x7FFFFFFF - 1 - kSignatureCommentSize;
// Item sizes are 32-bit in the archive and in the launcher's reader.
inline constexpr std::uint64_t kMaxItemBytes = 0xFFFFFFFE;

// Thrown when the archive grows beyond kMaxArchiveBytes.
class ArchiveTooLarge : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes a new zip archive at `path` (replacing a file there) holding `items` in their order:
// files deflated, folders as stored folder items. Names are UTF-8 (flagged so); every item
// carries MS-DOS attributes (archive, or directory), so no installed file ends up read-only;
// its time is the source's modification time, as a DOS time in local time and as an extended
// timestamp. Progress lines go to `progress` for large archives. Throws ArchiveTooLarge, or
// std::runtime_error naming what failed; a partly written file stays for the caller to remove.
void WriteUpdateArchive(const std::filesystem::path& path, const std::vector<TreeNode>& items,
                        std::ostream& progress);

}  // namespace tarvo::publish
