#pragma once
// Making the folders an extracted item is written into.

#include <string_view>

namespace tarvo {

// Makes sure that `base` (a folder path ending in a separator, or null) exists, then creates
// every folder along `path` below it that does not exist yet: each part of `path` before a
// separator (not counting one at its very start), then `path` itself. `path` is relative to
// `base`, or stands alone when `base` is null. Anything already present counts as made, a file
// included; failures are ignored and show later, when the file beneath cannot be created.
void CreateDirectoryChain(const char16_t* base, std::u16string_view path);

}  // namespace tarvo
