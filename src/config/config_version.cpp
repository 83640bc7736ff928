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

bool WriteConfigVersion(const std::u16string& configPath, std::int32_t first, std::int32_t second) {
  const DWORD attributes = GetFileAttributesW(configPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  // Windows never writes a read-only file; Wine run by root would.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return false;
  const CIniFile ini(configPath);
  return ini.WriteInt(kSection, kFirstKey, first) && ini.WriteInt(kSection, kSecondKey, second);
}

bool ReadConfigVersion(std::int32_t& first, std::int32_t& second) {
  return ReadConfigVersion(GetConfigPath(), first, second);
}

bool WriteConfigVersion(std::int32_t first, std::int32_t second) {
  return WriteConfigVersion(GetConfigPath(), first, second);
}

}  // namespace tarvo
