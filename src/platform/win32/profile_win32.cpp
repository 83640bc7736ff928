// Profile files on Win32: the system's own functions.

#include "platform/profile.h"
#include "platform/win32/win32_sys.h"

namespace tarvo {

DWORD GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                               const char16_t* defaultText, char16_t* buffer, DWORD size,
                               const char16_t* path) {
  return ::GetPrivateProfileStringW(Wide(section), Wide(key), Wide(defaultText), Wide(buffer), size,
                                    Wide(path));
}

BOOL WritePrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* value,
                                const char16_t* path) {
  return ::WritePrivateProfileStringW(Wide(section), Wide(key), Wide(value), Wide(path));
}

}  // namespace tarvo
