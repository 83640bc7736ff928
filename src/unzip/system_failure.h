#pragma once
// Telling failures that come from the machine from those that come from what an archive holds.

#include "platform/types.h"

namespace tarvo {

// True for an error (GetLastError) of the machine rather than of the file asked for, one that
// may be gone at another start: no space or quota, a file too large for the file system, a file
// in use, no permission, a write-protected medium, a path too long for the system, an I/O
// error, no memory or handles left.
bool IsSystemFailure(DWORD error);

}  // namespace tarvo
