#pragma once
// The archives that an earlier start downloaded into "UpdateZip\": installed over the
// installation, then deleted, before the update check of this start runs.

#include <functional>
#include <string>
#include <vector>

#include "patch/fetched_segments.h"
#include "platform/disk_flush.h"
#include "platform/files.h"
#include "unzip/archive_signature.h"

namespace tarvo {

// How long a launcher waits for another one's passes over the same installation.
inline constexpr DWORD kInstallationLockTimeoutMs = 60000;

// The names of the files (not directories) that a directory search for `pattern` finds, in
// whatever order it finds them.
using FileSearch = std::function<std::vector<std::u16string>(const std::u16string& pattern)>;

// The names CFileFind finds for `pattern`: the launcher's own search.
std::vector<std::u16string> FindFiles(const std::u16string& pattern);

// Takes the installation's lock (that of "UpdateZip\") into `lock`, waiting up to `timeoutMs`
// while another launcher's passes hold it; the system releases it when the process ends, killed
// or not. True when the passes may run: the lock is held, or there is no "UpdateZip\" and so
// nothing for them to do.
bool LockPendingArchives(const std::u16string& programDirectory, CFolderLock& lock,
                         DWORD timeoutMs = kInstallationLockTimeoutMs);

// Installs every "*.zip" file of "UpdateZip\" under the program directory (`programDirectory`,
// ending in "\"), in case-insensitive ordinal order of their names (as NTFS lists them, whatever
// order the search gives), and after each one records the versions its name carries when it
// begins with 13 digits (ExtractArchiveToProgramDir, WriteConfigVersion), once `flush` has put
// its files on the disk, then deletes it. An archive whose name carries the recorded
// FirstVersion and a SecondVersion not above the recorded one (as the pass itself may just have
// recorded) is deleted unread. One that an entry of the last version list comes before, neither
// installed nor gone from the list (install_order.h), stays for a later start. An archive the
// machine kept out, or whose versions an existing Sys\Config.ini would not take, is not
// recorded, and the pass stops there: it and every later archive stay for another start; so does
// an archive whose patches wait for segments of the store, which are handed to `fetched` to be
// fetched. A file that the zip reader does not open, an archive with a damaged item (what came
// before it stays), and with `key` an archive that is not signed with it for the versions of
// its name, records nothing and is deleted, so that it is fetched again. The paths of the
// archives that are done with are added to `finished` as the pass goes.
void InstallPendingArchives(const std::u16string& programDirectory,
                            std::vector<std::u16string>& finished,
                            const std::optional<PublicKey>& key = std::nullopt,
                            const FileSearch& search = &FindFiles,
                            const CDiskFlush& flush = PlatformDiskFlush(),
                            FetchedSegments* fetched = nullptr);

// Deletes the archives in `finished` that are still there, every "*.part" file that an
// interrupted download of an earlier launcher left in "UpdateZip\", kept bytes of downloads
// (net/kept_bytes.h) whose versions are no longer newer than the recorded pair or that were not
// written for 14 days (unless another running launcher holds them), and the executable that an
// earlier self-update moved aside.
void DeletePendingArchives(const std::u16string& programDirectory,
                           const std::vector<std::u16string>& finished);

}  // namespace tarvo
