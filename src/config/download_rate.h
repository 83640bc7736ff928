#pragma once
// The download rate limit an installation may set in Sys\Config.ini, over the one the launcher
// was built with: section "Tarvo", key "DownloadRate", in KiB/s, 0 for no limit.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo {

// The highest limit taken, in KiB/s (1 GiB/s): anything above it is a mistake, not a limit.
inline constexpr std::uint32_t kMaxDownloadRate = 1024 * 1024;

// The limit that `text` sets: decimal digits alone, at most kMaxDownloadRate. Nothing for
// anything else (empty, a sign, letters, a value too large).
std::optional<std::uint32_t> ParseDownloadRate(std::u16string_view text);

// The limit in KiB/s (0: none): DownloadRate in section [Tarvo] of the configuration file at
// `configPath` when that is readable and the value makes sense (ParseDownloadRate), else
// `buildRate`.
std::uint32_t ReadDownloadRate(const std::u16string& configPath, std::uint32_t buildRate);

}  // namespace tarvo
