// The planner against the plain transcription of the removal procedure, on hostile version
// list pages: both must give the same flag and start the same downloads in the same order.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "support/planning_cases.h"
#include "support/reference_planner.h"
#include "update/plan_downloads.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The reference is quadratic; long inputs would only slow the search down.
  if (size > 512) return 0;
  const tarvo::test::PlanningCase c =
      tarvo::test::MakePlanningCase(std::string_view(reinterpret_cast<const char*>(data), size));
  tarvo::test::RecordingPlanner planner = c.hasConfig
                                              ? tarvo::test::RecordingPlanner(c.first, c.second)
                                              : tarvo::test::RecordingPlanner();
  tarvo::test::RecordingPlanner reference = planner;
  const std::u16string directory = u"C:\\Games\\Velmora\\";
  const int started = tarvo::PlanDownloads(c.page, planner, directory);
  const int expected = tarvo::test::ReferencePlanDownloads(c.page, reference, directory);
  if (started != expected || planner.downloads != reference.downloads ||
      planner.versionReads != reference.versionReads) {
    std::abort();
  }
  return 0;
}
