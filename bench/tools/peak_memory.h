#pragma once
// The peak memory of this process, as text for a benchmark's report: POSIX its peak resident
// set; Win32 its peak of private memory and of working set.

#include <string>

std::string DescribePeakMemory();
