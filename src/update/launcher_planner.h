#pragma once
// Planning as the launcher runs it: against the recorded versions and the launcher's downloads.

#include <string>

#include "install/install_order.h"
#include "net/download_queue.h"
#include "update/plan_downloads.h"

namespace tarvo {

class LauncherPlanner final : public DownloadPlanner {
 public:
  // Downloads go to `downloads`; versions are read from programDirectory + "Sys\Config.ini".
  LauncherPlanner(DownloadQueue& downloads, std::u16string programDirectory);

  // ReadConfigVersion: false when the file is missing or cannot be read.
  bool ReadVersions(std::int32_t& first, std::int32_t& second) override;
  // Declines an archive that is pending already (an earlier start stored it and it is still
  // waiting to be installed), one that another running launcher is fetching, and a destination
  // planned already; makes "UpdateZip\" before the first download when it is missing.
  bool StartDownload(const std::u16string& url, const std::u16string& destination) override;
  // Keeps the entries planned in "UpdateZip\" (install_order.h), when that folder exists, for
  // the installation passes of the next starts.
  void ListPlanned() override;

 private:
  DownloadQueue& m_downloads;
  std::u16string m_programDirectory;
  PlannedEntries m_planned;
};

}  // namespace tarvo
