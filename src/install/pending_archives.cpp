#include "install/pending_archives.h"

#include <algorithm>

#include "common/windows_names.h"
#include "config/config_version.h"
#include "install/archive_name.h"
#include "install/extract_archive.h"
#include "install/kept_bytes_cleanup.h"
#include "install/install_order.h"
#include "net/kept_bytes.h"
#include "unzip/zip_archive.h"

namespace tarvo {

namespace {

std::u16string PendingFolder(const std::u16string& programDirectory) {
  return programDirectory + u"UpdateZip\\";
}

}  // namespace

std::vector<std::u16string> FindFiles(const std::u16string& pattern) {
  std::vector<std::u16string> names;
  CFileFind find;
  if (!find.FindFile(pattern.c_str(), 0)) return names;
  bool more = true;
  while (more) {
    more = find.FindNextFile();
    if (find.IsDots() || find.MatchesMask(FILE_ATTRIBUTE_DIRECTORY)) continue;
    names.push_back(find.GetFileName());
  }
  return names;
}

bool LockPendingArchives(const std::u16string& programDirectory, CFolderLock& lock,
                         DWORD timeoutMs) {
  const std::u16string folder = PendingFolder(programDirectory);
  if (!PathFileExistsW(folder.c_str())) return true;
  return lock.Lock(folder.c_str(), timeoutMs);
}

void InstallPendingArchives(const std::u16string& programDirectory,
                            std::vector<std::u16string>& finished,
                            const std::optional<PublicKey>& key, const FileSearch& search,
                            const CDiskFlush& flush, FetchedSegments* fetched) {
  const std::u16string folder = PendingFolder(programDirectory);
  const std::u16string configPath = programDirectory + kConfigFileName;
  std::vector<std::u16string> names = search(folder + u"*.zip");
  // FAT32 and exFAT list names in the order they were made, not sorted as NTFS does.
  std::sort(names.begin(), names.end(), LessIgnoringAsciiCase);
  const auto done = [&finished](const std::u16string& path) {
    DeleteFileW(path.c_str());
    finished.push_back(path);
  };
  const std::optional<PlannedEntries> planned = ReadPlannedEntries(folder);
  for (const std::u16string& name : names) {
    const std::u16string path = folder + name;
    const auto versions = VersionsFromFileTitle(FileTitleFromPath(name));
    // A download that ended after a newer update was installed would take files back to its
    // version, under the newer versions recorded.
    std::int32_t first = 0, second = 0;
    const bool recorded = versions && ReadConfigVersion(configPath, first, second);
    if (recorded && versions->first == first && versions->second <= second) {
      done(path);
      continue;
    }
    if (recorded && planned && AwaitsPlannedEntry(*planned, first, second, *versions)) continue;
    const ArchiveInstall installed =
        ExtractArchiveToProgramDir(path, programDirectory, key, flush, fetched);
    if (installed == ArchiveInstall::kMachineFailed ||
        installed == ArchiveInstall::kAwaitingSegments) {
      return;
    }
    if (installed == ArchiveInstall::kNotAuthentic || installed == ArchiveInstall::kUnreadable ||
        installed == ArchiveInstall::kDamaged) {
      done(path);
      continue;
    }
    // What the versions stand for is on the disk before they are recorded; the archive goes as
    // soon as they are, so that a start after a kill never installs it again over a later one.
    if (!flush.FlushExtracted(programDirectory)) return;
    if (versions && !WriteConfigVersion(configPath, versions->first, versions->second)) return;
    done(path);
  }
}

void DeletePendingArchives(const std::u16string& programDirectory,
                           const std::vector<std::u16string>& finished) {
  for (const std::u16string& path : finished) DeleteFileW(path.c_str());
  // A download stopped part-way leaves its part file, whatever its name; no download of this
  // start runs yet.
  const std::u16string folder = PendingFolder(programDirectory);
  for (const std::u16string& name : FindFiles(folder + u"*.part")) {
    DeleteFileW((folder + name).c_str());
  }
  DeleteStaleKeptBytes(programDirectory);
  // Still in use, when the launcher it held runs on: then the next start deletes it.
  const std::u16string launcher = GetModulePath();
  if (!launcher.empty()) DeleteFileW((launcher + kZipAsideSuffix).c_str());
}

}  // namespace tarvo
