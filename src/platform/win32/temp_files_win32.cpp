// Temporary file names on Win32.

#include "platform/temp_files.h"
#include "platform/win32/win32_sys.h"

namespace tarvo {

DWORD GetTempPathW(DWORD size, char16_t* buffer) { return ::GetTempPathW(size, Wide(buffer)); }

UINT GetTempFileNameW(const char16_t* path, const char16_t* prefix, UINT unique,
                      char16_t* tempFileName) {
  return ::GetTempFileNameW(Wide(path), Wide(prefix), unique, Wide(tempFileName));
}

}  // namespace tarvo
