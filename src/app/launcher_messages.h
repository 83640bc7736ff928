#pragma once
// The messages that download workers post to the launcher dialog.

#include "platform/types.h"

namespace tarvo {

// Posted once for every download when it ends: wParam 1 when it stored its archive, 0 when not;
// lParam 0. The launcher ends on the first with 1, or once every download has ended.
inline constexpr UINT WM_DOWNLOAD_FINISHED = WM_USER + 4000;

// Posted once when downloads run and none has received a byte for a while (kStallLimit): the
// launcher ends, the downloads keeping what they have. Both parameters 0.
inline constexpr UINT WM_DOWNLOADS_STALLED = WM_USER + 4001;

}  // namespace tarvo
