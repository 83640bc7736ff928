#pragma once
// Making the folders an extracted item is written into.

#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace tarvo {

// Makes sure that `base` (a folder path ending in a separator, or null) exists, then creates
// every folder along `path` below it that does not exist yet: each part of `path` before a
// separator (not counting one at its very start), then `path` itself. `path` is relative to
// `base`, or stands alone when `base` is null. Anything already present counts as made, a file
// included, so such a failure shows later, when the file beneath cannot be created. Returns 0,
// or the error (GetLastError) of the last folder that the system would not create. The folders
// it made are added to `made`, outer ones first, when it is given.
DWORD CreateDirectoryChain(const char16_t* base, std::u16string_view path,
                           std::vector<std::u16string>* made = nullptr);

}  // namespace tarvo
