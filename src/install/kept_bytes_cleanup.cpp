#include "install/kept_bytes_cleanup.h"

#include <algorithm>
#include <vector>

#include "config/config_version.h"
#include "install/archive_name.h"
#include "install/pending_archives.h"
#include "net/disk_budget.h"
#include "net/kept_bytes.h"
#include "platform/files.h"

namespace tarvo {

namespace {

// How long kept bytes that no transfer continued stay.
constexpr std::uint64_t kKeptBytesLifetime = 14ull * 24 * 60 * 60 * 10000000;  // 14 days
// Folders deeper than this under a stray folder are left: nothing the launcher makes is there.
constexpr int kMaxStrayDepth = 16;

// Removes what stands at `path`, a link itself and never what it leads to, a folder with all in
// it; a plain file only when `files` is set.
void RemoveEntry(const std::u16string& path, bool files, int depth) {
  const DWORD attributes = GetLinkAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // A link to a file goes as a file, a link to a folder (Win32) as a folder.
    if (!DeleteFileW(path.c_str())) RemoveDirectoryW(path.c_str());
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (!files) return;
    if (!DeleteFileW(path.c_str())) {
      SetFileAttributesW(path.c_str(), 0);
      DeleteFileW(path.c_str());
    }
    return;
  }
  if (depth >= kMaxStrayDepth) return;
  std::vector<std::u16string> inside;
  CFileFind find;
  if (find.FindFile((path + u"\\*").c_str())) {
    for (bool more = true; more;) {
      more = find.FindNextFile();
      if (!find.IsDots()) inside.push_back(find.GetFilePath());
    }
  }
  find.Close();
  for (const std::u16string& entry : inside) RemoveEntry(entry, true, depth + 1);
  RemoveDirectoryW(path.c_str());
}

// The names in `folder` ending in `suffix` of everything that is not a plain file.
std::vector<std::u16string> StrayEntries(const std::u16string& folder, std::u16string_view suffix) {
  std::vector<std::u16string> names;
  CFileFind find;
  if (!find.FindFile((folder + u"*" + std::u16string(suffix)).c_str())) return names;
  for (bool more = true; more;) {
    more = find.FindNextFile();
    if (find.IsDots()) continue;
    const DWORD attributes = GetLinkAttributesW(find.GetFilePath().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
      names.push_back(find.GetFileName());
    }
  }
  return names;
}

bool VolumeKeepsReserve(const std::u16string& folder) {
  std::uint64_t available = 0;
  return !GetDiskFreeSpaceExW(folder.c_str(), &available) || available >= kDiskReserve;
}

// While the volume keeps less than the reserve free, the largest kept bytes go first.
void TrimKeptBytesToReserve(const std::u16string& folder) {
  if (VolumeKeepsReserve(folder)) return;
  std::vector<std::pair<std::uint64_t, std::u16string>> kept;
  for (const std::u16string& name : FindFiles(folder + u"*" + std::u16string(kKeptSuffix))) {
    CFile file;
    if (!file.Open((folder + name).c_str(), CFile::modeRead | CFile::modeNoFollow)) continue;
    kept.emplace_back(file.GetLength(), folder + name.substr(0, name.size() - kKeptSuffix.size()));
  }
  std::sort(kept.begin(), kept.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [size, destination] : kept) {
    if (VolumeKeepsReserve(folder)) return;
    DeleteKeptBytes(destination);
  }
}

}  // namespace

void DeleteStaleKeptBytes(const std::u16string& programDirectory) {
  const std::u16string folder = programDirectory + u"UpdateZip\\";
  // A link there could lead a transfer's writes out of the installation; a folder would block
  // the entry for good.
  for (const std::u16string_view suffix : {kKeptSuffix, kKeptInfoSuffix}) {
    for (const std::u16string& name : StrayEntries(folder, suffix)) {
      RemoveEntry(folder + name, false, 0);
    }
  }
  // Kept bytes stay only while they can still be installed: of versions newer than the recorded
  // pair (when it can be read) and written within the last 14 days.
  std::int32_t first = 0;
  std::int32_t second = 0;
  const bool recorded = ReadConfigVersion(programDirectory + u"Sys\\Config.ini", first, second);
  const std::uint64_t now = GetSystemTimeAsFileTime();
  for (const std::u16string& name : FindFiles(folder + u"*" + std::u16string(kKeptSuffix))) {
    const std::u16string destination = folder + name.substr(0, name.size() - kKeptSuffix.size());
    const auto versions = VersionsFromFileTitle(FileTitleFromPath(destination));
    const bool newer =
        versions && FollowsRecordedVersions(versions->first, versions->second, first, second);
    std::uint64_t written = 0;
    const bool fresh = GetFileWriteTime(KeptBytesPath(destination).c_str(), &written) &&
                       (written >= now || now - written < kKeptBytesLifetime);
    if (!fresh || (recorded && !newer)) DeleteKeptBytes(destination);
  }
  // Records whose bytes are gone.
  for (const std::u16string& name : FindFiles(folder + u"*" + std::u16string(kKeptInfoSuffix))) {
    const std::u16string destination =
        folder + name.substr(0, name.size() - kKeptInfoSuffix.size());
    if (!PathFileExistsW(KeptBytesPath(destination).c_str())) DeleteFileW((folder + name).c_str());
  }
  TrimKeptBytesToReserve(folder);
}

}  // namespace tarvo
