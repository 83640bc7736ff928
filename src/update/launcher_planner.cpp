#include "update/launcher_planner.h"

#include "config/config_version.h"
#include "net/kept_bytes.h"
#include "platform/files.h"

namespace tarvo {

LauncherPlanner::LauncherPlanner(DownloadQueue& downloads, std::u16string programDirectory)
    : m_downloads(downloads), m_programDirectory(std::move(programDirectory)) {}

bool LauncherPlanner::ReadVersions(std::int32_t& first, std::int32_t& second) {
  return ReadConfigVersion(m_programDirectory + u"Sys\\Config.ini", first, second);
}

bool LauncherPlanner::StartDownload(const std::u16string& url, const std::u16string& destination) {
  const auto versions = VersionsFromFileTitle(FileTitleFromPath(destination));
  // One past the most a record holds is enough to know it holds none.
  if (versions && m_planned.size() <= kMaxPlannedEntries) m_planned.push_back(*versions);
  if (PathFileExistsW(destination.c_str())) return false;
  // Another running launcher is fetching it.
  if (KeptBytesHeld(destination)) return false;
  const std::u16string folder = m_programDirectory + u"UpdateZip";
  if (!PathFileExistsW(folder.c_str())) CreateDirectoryW(folder.c_str());
  return m_downloads.Add(url, destination);
}

void LauncherPlanner::ListPlanned() {
  const std::u16string folder = m_programDirectory + u"UpdateZip\\";
  // Without the folder nothing is pending, and nothing can wait.
  if (PathFileExistsW(folder.c_str())) WritePlannedEntries(folder, std::move(m_planned));
  m_planned.clear();
}

}  // namespace tarvo
