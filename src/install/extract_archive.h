#pragma once
// Extraction of one pending archive over the installation.

#include <optional>
#include <string>

#include "patch/fetched_segments.h"
#include "platform/disk_flush.h"
#include "unzip/archive_signature.h"

namespace tarvo {

// How the installation of one archive went.
enum class ArchiveInstall {
  // Every item is installed, or was refused for what the archive itself holds (a hostile name,
  // a compression method or encryption it cannot read, a read-only target): trying again would
  // give the same, so the archive counts as installed.
  kDone,
  // The machine kept it out (no space, a file in use, no permission, a path too long for the
  // system, an I/O error): what was installed before the failure stays, and the archive is to
  // be installed again at another start.
  kMachineFailed,
  // It was to be signed and is not, or not for the versions its name carries: nothing of it is
  // installed, and it is to be deleted without recording anything.
  kNotAuthentic,
  // It is no zip archive that the reader opens (damaged since it was stored, or put there by
  // hand): nothing of it is installed, and it is to be deleted without recording anything, so
  // that the update check fetches it again. A download is stored only when the reader opens it.
  kUnreadable,
  // An item of it is damaged (its data fails its CRC-32 or size, cannot be read or inflated,
  // or its local header disagrees with its record): the items placed before it stay (they are
  // newer files), its removals are not applied, and it is to be deleted without recording
  // anything, so that the update check fetches it again. A download is stored only when every
  // item checks, so only a file damaged on the disk gets here.
  kDamaged,
  // A patch in it needs segments from the store that neither the installed file nor
  // "UpdateZip\Segments\" holds (patch/fetched_segments.h): what was installed before stays,
  // nothing is recorded, and the archive is installed again at another start, once they are
  // fetched.
  kAwaitingSegments,
};

// Extracts the items of the archive at `archivePath`, in ascending index order, under
// `programDirectory` (ending in "\"), replacing files of the same names, and stops at the first
// item the machine keeps out. The process's current directory is the program directory during
// the extraction and is restored afterwards; an archive is never extracted elsewhere. A removal
// list among the items (removal_list.h) is not extracted: once every item is in place, what it
// names is removed, and a file the machine keeps makes the archive kMachineFailed.
// With `key`, the archive must be signed with it for the 13 digits its file name begins with
// (archive_signature.h). Its signature is checked on a thread of its own while the items are
// extracted; until it has verified, extracted items are held beside their targets, and are
// placed once it has, or removed when it does not, with whatever an earlier, stopped try left
// beside the targets. Each file item is flushed through `flush` before it takes its place. An
// item named Sys\Config.ini is extracted after all the others and the removals. A patch item
// (patch/patch_item.h) rebuilds its file from the installed one, once the archive is known to
// be authentic; segments it lacks are looked for in `fetched` (none: a look in
// "UpdateZip\Segments\" alone) and, when missing, handed to it (kAwaitingSegments).
ArchiveInstall ExtractArchiveToProgramDir(const std::u16string& archivePath,
                                          const std::u16string& programDirectory,
                                          const std::optional<PublicKey>& key = std::nullopt,
                                          const CDiskFlush& flush = PlatformDiskFlush(),
                                          FetchedSegments* fetched = nullptr);

}  // namespace tarvo
