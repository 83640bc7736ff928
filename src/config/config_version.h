#pragma once
// The version pair recorded in Sys\Config.ini: how far the installation has been updated.
// Section "VERSION", keys "FirstVersion" and "SecondVersion"; a missing value counts as 0.
// The file is never created here: without it nothing is read and nothing is written.

#include <cstdint>
#include <string>

namespace tarvo {

// Where the configuration lies under the program directory.
inline constexpr char16_t kConfigFileName[] = u"Sys\\Config.ini";

// True when an update of versions (`first`, `second`) follows the recorded pair: the same first
// version and a later second one. Only such updates are fetched and their bytes kept.
inline bool FollowsRecordedVersions(std::int32_t first, std::int32_t second,
                                    std::int32_t recordedFirst, std::int32_t recordedSecond) {
  return first == recordedFirst && second > recordedSecond;
}

// Reads the pair from the configuration path (GetConfigPath). Returns false, leaving both
// out-parameters as they were, when no file that can be read exists there (nothing, a folder,
// a device, a file this process may not read); otherwise sets both and returns true.
bool ReadConfigVersion(std::int32_t& first, std::int32_t& second);

// Records the pair in the configuration path, first then second, each as its own write. Does
// nothing when no file exists there. False when a file exists but the pair could not be
// written to it (read-only, full disk, in use); true otherwise.
bool WriteConfigVersion(std::int32_t first, std::int32_t second);

// The same over the configuration file at `configPath`.
bool ReadConfigVersion(const std::u16string& configPath, std::int32_t& first, std::int32_t& second);
bool WriteConfigVersion(const std::u16string& configPath, std::int32_t first, std::int32_t second);

}  // namespace tarvo
