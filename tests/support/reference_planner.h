#pragma once
// Planning as a plain transcription of the removal procedure, to hold the launcher's planner
// against, and a planner seam that records what it is asked to do.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "update/plan_downloads.h"

namespace tarvo::test {

// PlanDownloads done the slow, obvious way: the list body is a string, each pass searches it
// from its start and erases the two tags it found. Quadratic in the number of entries.
int ReferencePlanDownloads(std::u16string_view page, DownloadPlanner& planner,
                           const std::u16string& programDirectory);

struct PlannedDownload {
  std::u16string url;
  std::u16string destination;
  bool operator==(const PlannedDownload&) const = default;
};

// Answers with a fixed version pair, or as if no configuration existed, and records the
// downloads it is asked to start instead of starting them.
class RecordingPlanner : public DownloadPlanner {
 public:
  // No configuration: ReadVersions gives false.
  RecordingPlanner() = default;
  RecordingPlanner(std::int32_t first, std::int32_t second) : m_versions({first, second}) {}

  bool ReadVersions(std::int32_t& first, std::int32_t& second) override {
    ++versionReads;
    if (!m_versions) return false;
    first = m_versions->first;
    second = m_versions->second;
    return true;
  }

  bool StartDownload(const std::u16string& url, const std::u16string& destination) override {
    downloads.push_back({url, destination});
    return true;
  }

  int versionReads = 0;
  std::vector<PlannedDownload> downloads;

 private:
  std::optional<std::pair<std::int32_t, std::int32_t>> m_versions;
};

}  // namespace tarvo::test
