#include "config/config_version.h"

#include "app/program_paths.h"
#include "config/ini_file.h"
#include "platform/files.h"

namespace tarvo {

namespace {

constexpr char16_t kSection[] = u"VERSION";
constexpr char16_t kFirstKey[] = u"FirstVersion";
constexpr char16_t kSecondKey[] = u"SecondVersion";

}  // namespace

bool ReadConfigVersion(const std::u16string& configPath, std::int32_t& first,
                       std::int32_t& second) {
  // A folder, a device or a file this process may not read would read as 0/0 and plan another
  // line's updates.
  if (!CanReadFile(configPath.c_str())) return false;
  const CIniFile ini(configPath);
  first = ini.ReadInt(kSection, kFirstKey, 0);
  second = ini.ReadInt(kSection, kSecondKey, 0);
  return true;
}

void WriteConfigVersion(const std::u16string& configPath, std::int32_t first, std::int32_t second) {
  if (!PathFileExistsW(configPath.c_str())) return;
  const CIniFile ini(configPath);
  ini.WriteInt(kSection, kFirstKey, first);
  ini.WriteInt(kSection, kSecondKey, second);
}

bool ReadConfigVersion(std::int32_t& first, std::int32_t& second) {
  return ReadConfigVersion(GetConfigPath(), first, second);
}

void WriteConfigVersion(std::int32_t first, std::int32_t second) {
  WriteConfigVersion(GetConfigPath(), first, second);
}

}  // namespace tarvo
