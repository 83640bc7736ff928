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
  if (PathFileExistsW(destination.c_str())) return false;
  // Another running launcher is fetching it.
  if (KeptBytesHeld(destination)) return false;
  const std::u16string folder = m_programDirectory + u"UpdateZip";
  if (!PathFileExistsW(folder.c_str())) CreateDirectoryW(folder.c_str());
  return m_downloads.Add(url, destination);
}

}  // namespace tarvo
