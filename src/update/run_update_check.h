#pragma once
// The update check of one start: the version list fetched from the update server and planned.

#include <chrono>
#include <cstddef>
#include <string>

#include "update/plan_downloads.h"

namespace tarvo {

// The most version list text the check accepts. A real list of a hundred thousand entries is
// a few megabytes; a server that sends without end must not take all memory.
inline constexpr std::size_t kMaxVersionListBytes = std::size_t{64} << 20;

// How long fetching the version list may take in all, so that the client starts within
// seconds whatever the update server does.
inline constexpr std::chrono::milliseconds kVersionListDeadline{15000};

// Fetches the version list at `versionListUrl` on a thread of its own, widens it read by read
// and plans the downloads it asks for with `planner` under `programDirectory`. Returns the
// started flag: 1 when at least one download was started, 0 otherwise and on every failure (no
// network, no server, a read error, a page longer than kMaxVersionListBytes, an exception while
// planning). A fetch that has not ended by `deadline` is given up and returns 0 then, even
// when the platform's HTTP call it waits in does not return; that thread ends on its own or
// with the process. The request names itself by `agent` (empty: the application's name).
// Never throws.
int RunUpdateCheck(const std::u16string& versionListUrl, DownloadPlanner& planner,
                   const std::u16string& programDirectory,
                   std::chrono::milliseconds deadline = kVersionListDeadline,
                   const std::u16string& agent = {});

}  // namespace tarvo
