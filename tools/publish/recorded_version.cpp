#include "publish/recorded_version.h"

#include <stdexcept>

#include "config/config_version.h"

namespace tarvo::publish {

// The launcher's own reading of the version pair, so that the tool and the players'
// installations can never disagree about what is recorded.
VersionKey ReadRecordedVersion(const std::filesystem::path& iniFile) {
  std::int32_t first = 0;
  std::int32_t second = 0;
  if (!ReadConfigVersion(iniFile.u16string(), first, second)) {
    throw std::runtime_error("cannot read " + iniFile.string());
  }
  return {first, second};
}

}  // namespace tarvo::publish
