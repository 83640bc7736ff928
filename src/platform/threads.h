#pragma once
// Worker threads and the per-thread COM initialisation that Win32 code runs under.

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace tarvo {

using HRESULT = std::int32_t;

// A thread routine: its one parameter and its exit code.
using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

// Starts `routine(parameter)` on a new thread at once and lets it run detached: nothing keeps
// its handle, nothing can wait for it, and it ends with the process at the latest. An
// exception that escapes the routine ends that thread alone. FALSE when no thread could be
// started; the routine then never runs.
BOOL CreateThread(LPTHREAD_START_ROUTINE routine, void* parameter);

// COM for the calling thread, in a single-threaded apartment. Win32 only; on POSIX these do
// nothing and report success.
HRESULT CoInitialize(std::nullptr_t reserved);
void CoUninitialize();

}  // namespace tarvo
