#include <sys/resource.h>

#include <cstdio>

#include "peak_memory.h"

std::string DescribePeakMemory() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  char text[64];
  std::snprintf(text, sizeof text, "peak resident %.1f MiB",
                static_cast<double>(usage.ru_maxrss) / 1024.0);
  return text;
}
