// Starting the client on Win32.

#include "platform/process.h"
#include "platform/win32/win32_sys.h"

#include <shellapi.h>

namespace tarvo {

BOOL ShellExecuteW(HWND owner, const char16_t* verb, const char16_t* file,
                   const char16_t* parameters, const char16_t* directory, int showCommand) {
  const HINSTANCE result = ::ShellExecuteW(SystemHwnd(owner), Wide(verb), Wide(file),
                                           Wide(parameters), Wide(directory), showCommand);
  return reinterpret_cast<INT_PTR>(result) > 32 ? TRUE : FALSE;
}

}  // namespace tarvo
