#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <cstdio>

#include "peak_memory.h"

std::string DescribePeakMemory() {
  constexpr double kMiB = 1024.0 * 1024.0;
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  char text[96];
  std::snprintf(text, sizeof text, "peak private %.1f MiB, peak working set %.1f MiB",
                static_cast<double>(counters.PeakPagefileUsage) / kMiB,
                static_cast<double>(counters.PeakWorkingSetSize) / kMiB);
  return text;
}
