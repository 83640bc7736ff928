#include "app/program_paths.h"

#include "platform/files.h"

namespace tarvo {

std::u16string GetProgramDirectory() {
  char16_t path[1024] = {};
  GetModuleFileNameW(nullptr, path, 1024);
  std::u16string directory(path);
  const auto last = directory.rfind(u'\\');
  directory.erase(last == std::u16string::npos ? 0 : last);
  directory += u'\\';
  return directory;
}

std::u16string GetConfigPath() { return GetProgramDirectory() + u"Sys\\Config.ini"; }

}  // namespace tarvo
