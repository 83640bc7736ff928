#pragma once
// GetLastError on POSIX: the file functions of this layer note why they failed, as Windows
// numbers it.

#include "platform/types.h"

namespace tarvo {

// Notes the Windows error number nearest to `errnoValue` as the calling thread's last error.
void SetLastErrorFromErrno(int errnoValue);

}  // namespace tarvo
