#include "publish/recorded_version.h"

#include <optional>
#include <sstream>

#include "common/decimal.h"
#include "common/utf.h"
#include "publish/file_bytes.h"
#include "publish/item_names.h"

namespace tarvo::publish {

namespace {

// The profile functions hand back at most 254 characters of a value.
constexpr std::size_t kMaxValueLength = 254;

std::string FileText(const std::filesystem::path& path) {
  std::string bytes = ReadFileBytes(path);
  if (bytes.starts_with("\xFF\xFE")) {
    std::u16string wide;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return Utf16ToUtf8(wide);
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
  return bytes;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  const std::size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

std::optional<std::string> ProfileValue(std::string_view text, std::string_view section,
                                        std::string_view key) {
  bool inSection = false;
  std::istringstream lines{std::string(text)};
  for (std::string raw; std::getline(lines, raw);) {
    const std::string_view line = Trimmed(raw);
    if (line.starts_with('[')) {
      // Only the first section of the name is searched.
      if (inSection) return std::nullopt;
      const std::size_t close = line.find(']');
      const std::string_view name =
          Trimmed(line.substr(1, close == std::string_view::npos ? close : close - 1));
      inSection = FoldName(name) == FoldName(section);
      continue;
    }
    if (!inSection) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (FoldName(Trimmed(line.substr(0, equals))) != FoldName(key)) continue;
    std::string_view value = Trimmed(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, kMaxValueLength));
  }
  return std::nullopt;
}

std::int32_t ReadInt(std::string_view text, std::string_view key) {
  const auto value = ProfileValue(text, "VERSION", key);
  return value ? ParseDecimal(Utf8ToUtf16(*value)) : 0;
}

}  // namespace

VersionKey ReadRecordedVersion(const std::filesystem::path& iniFile) {
  const std::string text = FileText(iniFile);
  return {ReadInt(text, "FirstVersion"), ReadInt(text, "SecondVersion")};
}

}  // namespace tarvo::publish
