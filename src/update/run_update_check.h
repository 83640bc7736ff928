#pragma once
// The update check of one start: the version list fetched from the update server and planned.

#include <cstddef>
#include <string>

namespace tarvo {

// The most version list text the check accepts. A real list of a hundred thousand entries is
// a few megabytes; a server that sends without end must not keep the launcher (and the client's
// start) waiting or take all memory.
inline constexpr std::size_t kMaxVersionListBytes = std::size_t{64} << 20;

// Fetches the version list (kVersionListUrl), widens it chunk by chunk and plans the downloads
// it asks for. Returns the started flag: 1 when at least one download was handed to a worker,
// 0 otherwise and on every failure (no network, no server, a read error, a page longer than
// kMaxVersionListBytes, an exception while planning). Never throws.
int RunUpdateCheck();

// The same against another address (for tests).
int RunUpdateCheck(const std::u16string& versionListUrl);

}  // namespace tarvo
