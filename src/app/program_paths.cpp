#include "app/program_paths.h"

#include <vector>

#include "platform/files.h"

namespace tarvo {

namespace {

// The longest path Windows gives a program: 32767 units and the NUL.
constexpr DWORD kLongestPath = 32768;

}  // namespace

std::u16string GetProgramDirectory() {
  // Most paths fit the usual buffer; a longer one is asked for again in full, never cut: a cut
  // path would name another folder.
  for (const DWORD size : {DWORD{1024}, kLongestPath}) {
    std::vector<char16_t> path(size, u'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), size);
    if (length == 0) return {};
    if (length >= size) continue;
    std::u16string directory(path.data(), length);
    const auto last = directory.rfind(u'\\');
    directory.erase(last == std::u16string::npos ? 0 : last);
    directory += u'\\';
    return directory;
  }
  return {};
}

std::u16string GetConfigPath() { return GetProgramDirectory() + u"Sys\\Config.ini"; }

}  // namespace tarvo
