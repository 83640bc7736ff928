#include "config/download_rate.h"

#include "config/ini_file.h"
#include "platform/files.h"

namespace tarvo {

std::optional<std::uint32_t> ParseDownloadRate(std::u16string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - u'0');
    if (value > kMaxDownloadRate) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::uint32_t ReadDownloadRate(const std::u16string& configPath, std::uint32_t buildRate) {
  // A folder or a device would read as nothing at best.
  if (!CanReadFile(configPath.c_str())) return buildRate;
  const std::u16string text = CIniFile(configPath).ReadString(u"Tarvo", u"DownloadRate", u"");
  return ParseDownloadRate(text).value_or(buildRate);
}

}  // namespace tarvo
