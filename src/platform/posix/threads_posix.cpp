// Worker threads on POSIX: std::thread, detached. There is no COM.

#include <system_error>
#include <thread>

#include "platform/threads.h"

namespace tarvo {

BOOL CreateThread(LPTHREAD_START_ROUTINE routine, void* parameter) {
  try {
    std::thread([routine, parameter] {
      try {
        routine(parameter);
      } catch (...) {
        // The thread ends; the process goes on.
      }
    }).detach();
    return TRUE;
  } catch (const std::system_error&) {
    return FALSE;
  }
}

HRESULT CoInitialize(std::nullptr_t) { return 0; }

void CoUninitialize() {}

}  // namespace tarvo
