#include "app/program_paths.h"

#include "platform/files.h"

namespace tarvo {

std::u16string GetProgramDirectory() {
  std::u16string directory = GetModulePath();
  if (directory.empty()) return {};
  const auto last = directory.rfind(u'\\');
  directory.erase(last == std::u16string::npos ? 0 : last);
  directory += u'\\';
  return directory;
}

std::u16string GetConfigPath() { return GetProgramDirectory() + u"Sys\\Config.ini"; }

}  // namespace tarvo
