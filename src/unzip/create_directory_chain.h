#pragma once
// Making the folders an extracted item is written into.

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/types.h"

namespace tarvo {

// Folders found or made for earlier items of an archive, so that each is looked up once, not
// once per item. Memory stays bounded: past a limit it starts again empty.
class KnownFolders {
 public:
  bool Contains(const std::u16string& path) const { return m_paths.count(path) != 0; }
  void Add(const std::u16string& path);
  void Clear() { m_paths.clear(); }

 private:
  std::unordered_set<std::u16string> m_paths;
};

// Makes sure that `base` (a folder path ending in a separator, or null) exists, then creates
// every folder along `path` below it that does not exist yet: each part of `path` before a
// separator (not counting one at its very start), then `path` itself. `path` is relative to
// `base`, or stands alone when `base` is null. Anything already present counts as made, a file
// included, so such a failure shows later, when the file beneath cannot be created. Returns 0,
// or the error (GetLastError) of the last folder that the system would not create. The folders
// it made are added to `made`, outer ones first, when it is given. With `known`, folders in it
// are taken as present without asking the system, and the ones found or made are added to it.
DWORD CreateDirectoryChain(const char16_t* base, std::u16string_view path,
                           std::vector<std::u16string>* made = nullptr,
                           KnownFolders* known = nullptr);

}  // namespace tarvo
