// The program's entry on Win32: a GUI-subsystem executable.

#include "platform/framework.h"
#include "platform/win32/win32_sys.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const int status = tarvo::AfxRunApplication();
  // Download workers that are still running end with the process, without running static
  // destructors under their feet.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  return status;
}
