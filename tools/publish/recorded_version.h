#pragma once
// The version pair an installation records in Sys\Config.ini.

#include <filesystem>

#include "publish/version_page.h"

namespace tarvo::publish {

// Where an installation records its versions, relative to its folder.
inline constexpr std::string_view kConfigName = "Sys/Config.ini";

// Reads [VERSION] FirstVersion and SecondVersion from a profile (INI) file the way the launcher
// reads them on Windows: UTF-16LE with its byte-order mark, or 8-bit text; section and key names
// matched without regard to letter case, the first match winning; blanks around names and values
// and one pair of quotes around a value ignored; a value read by the decimal rules; a missing
// section, key or value reads as 0. Throws std::runtime_error when the file cannot be read.
VersionKey ReadRecordedVersion(const std::filesystem::path& iniFile);

}  // namespace tarvo::publish
