#include <vector>

#include "platform/files.h"

namespace tarvo {

namespace {

// The longest path Windows gives a program: 32767 units and the NUL.
constexpr DWORD kLongestPath = 32768;

}  // namespace

std::u16string GetModulePath() {
  // Most paths fit the usual buffer; a longer one is asked for again in full, never cut: a cut
  // path would name another file.
  for (const DWORD size : {DWORD{1024}, kLongestPath}) {
    std::vector<char16_t> path(size, u'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), size);
    if (length == 0) return {};
    if (length < size) return std::u16string(path.data(), length);
  }
  return {};
}

}  // namespace tarvo
