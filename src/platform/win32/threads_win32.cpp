// Worker threads and COM on Win32.

#include <memory>

#include "platform/threads.h"
#include "platform/win32/win32_sys.h"

#include <objbase.h>

namespace tarvo {

namespace {

struct ThreadStart {
  LPTHREAD_START_ROUTINE routine;
  void* parameter;
};

// The system calls thread routines with its own calling convention; this one calls ours.
::DWORD WINAPI ThreadEntry(LPVOID parameter) {
  const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  try {
    return start->routine(start->parameter);
  } catch (...) {
    return 1;
  }
}

}  // namespace

BOOL CreateThread(LPTHREAD_START_ROUTINE routine, void* parameter) {
  auto start = std::make_unique<ThreadStart>(ThreadStart{routine, parameter});
  const HANDLE thread = ::CreateThread(nullptr, 0, &ThreadEntry, start.get(), 0, nullptr);
  if (thread == nullptr) return FALSE;
  start.release();  // the thread owns it now
  CloseHandle(thread);
  return TRUE;
}

HRESULT CoInitialize(std::nullptr_t) { return ::CoInitialize(nullptr); }

void CoUninitialize() { ::CoUninitialize(); }

}  // namespace tarvo
