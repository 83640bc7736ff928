#pragma once
// Starting another program.

#include "platform/types.h"

namespace tarvo {

// Starts `file` with `parameters` and the verb "open", detached, in this process's current
// directory when `directory` is null. The result says whether it started; callers may ignore
// it. The program inherits no handle or descriptor of this process but the standard streams.
// POSIX: `parameters` is one argument; the program outlives this process and leaves no zombie
// behind.
BOOL ShellExecuteW(HWND owner, const char16_t* verb, const char16_t* file,
                   const char16_t* parameters, const char16_t* directory, int showCommand);

}  // namespace tarvo
