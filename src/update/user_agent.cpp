#include "update/user_agent.h"

#include "common/decimal.h"
#include "common/utf.h"
#include "config/config_version.h"
#include "tarvo_version.h"

namespace tarvo {

std::u16string LauncherUserAgent(const std::u16string& configPath) {
  std::u16string agent = u"Tarvo/" + Utf8ToUtf16(TARVO_VERSION_TEXT);
  std::int32_t first = 0;
  std::int32_t second = 0;
  if (ReadConfigVersion(configPath, first, second)) {
    agent += u" (" + FormatDecimal(first) + u"/" + FormatDecimal(second) + u")";
  }
  return agent;
}

}  // namespace tarvo
