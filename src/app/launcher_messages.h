#pragma once
// The message that download workers post to the launcher dialog.

#include "platform/types.h"

namespace tarvo {

// Posted by every download worker when it ends, stored or not; both parameters 0. The first
// one to arrive ends the launcher.
inline constexpr UINT WM_DOWNLOAD_FINISHED = WM_USER + 4000;

}  // namespace tarvo
