// Planning a version list of realistic entries: the launcher's planner against the plain
// transcription of the removal procedure, which searches the list again after each entry.
// The "entry" counter is the time per list entry.
//
// The reference is quadratic: it runs up to 10,000 entries only (100,000 would take minutes).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "support/reference_planner.h"
#include "update/plan_downloads.h"

namespace {

// A list with versions 1/1 to 1/count, each archive on the update server under its versions.
std::u16string MakePage(int count) {
  std::u16string page =
      u"<!DOCTYPE html>\r\n<html><head><title>Velmora updates</title></head><body>\r\n"
      u"<vlVersionList>\r\n";
  for (int i = 1; i <= count; ++i) {
    char versions[32];
    std::snprintf(versions, sizeof versions, "00001%08d", i);
    const std::u16string v(versions, versions + 13);
    page += u"<Version>" + v + u"http://updates.velmora.example/client/patches/" + v +
            u".zip</Version>\r\n";
  }
  return page + u"</vlVersionList>\r\n</body></html>\r\n";
}

// The version pair of a client three updates behind; downloads are only counted.
class CountingPlanner : public tarvo::DownloadPlanner {
 public:
  explicit CountingPlanner(int count) : m_second(count - 3) {}
  bool ReadVersions(std::int32_t& first, std::int32_t& second) override {
    first = 1;
    second = m_second;
    return true;
  }
  bool StartDownload(const std::u16string& url, const std::u16string& destination) override {
    benchmark::DoNotOptimize(url.size() + destination.size());
    ++started;
    return true;
  }
  int started = 0;

 private:
  std::int32_t m_second;
};

template <auto Plan>
void PlanList(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::u16string page = MakePage(count);
  const std::u16string directory = u"C:\\Games\\Velmora\\";
  for (auto _ : state) {
    CountingPlanner planner(count);
    benchmark::DoNotOptimize(Plan(page, planner, directory));
    if (planner.started != 3) state.SkipWithError("expected three downloads");
  }
  state.counters["entry"] = benchmark::Counter(
      count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

using PlanFunction = int (*)(std::u16string_view, tarvo::DownloadPlanner&, const std::u16string&);
void Planner(benchmark::State& state) {
  PlanList<static_cast<PlanFunction>(&tarvo::PlanDownloads)>(state);
}
void Reference(benchmark::State& state) { PlanList<tarvo::test::ReferencePlanDownloads>(state); }

BENCHMARK(Planner)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Reference)->RangeMultiplier(10)->Range(100, 10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
