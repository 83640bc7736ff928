#pragma once
// How the launcher names itself to the update server.

#include <string>

namespace tarvo {

// "Tarvo/VERSION (FIRST/SECOND)": the launcher's version and the versions recorded in the
// configuration at `configPath`, so that an update host's access log shows how far each
// installation has come; "Tarvo/VERSION" alone when no configuration can be read.
std::u16string LauncherUserAgent(const std::u16string& configPath);

}  // namespace tarvo
