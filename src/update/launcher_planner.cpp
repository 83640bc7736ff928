// Planning as the launcher runs it: against the recorded versions and the download worker.

#include "app/program_paths.h"
#include "config/config_version.h"
#include "net/download.h"
#include "update/plan_downloads.h"

namespace tarvo {

namespace {

class LauncherPlanner final : public DownloadPlanner {
 public:
  bool ReadVersions(std::int32_t& first, std::int32_t& second) override {
    return ReadConfigVersion(first, second);
  }
  void StartDownload(const std::u16string& url, const std::u16string& destination) override {
    tarvo::StartDownload(url, destination);
  }
};

}  // namespace

int PlanDownloads(std::u16string_view page) {
  LauncherPlanner planner;
  return PlanDownloads(page, planner, GetProgramDirectory());
}

}  // namespace tarvo
