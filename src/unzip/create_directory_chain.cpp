#include "unzip/create_directory_chain.h"

#include <string>

#include "platform/files.h"
#include "unzip/zip_item_name.h"

namespace tarvo {

namespace {

void CreateIfMissing(const std::u16string& path, DWORD* error,
                     std::vector<std::u16string>* made) {
  if (PathFileExistsW(path.c_str())) return;
  if (!CreateDirectoryW(path.c_str())) {
    *error = GetLastError();
  } else if (made != nullptr) {
    made->push_back(path);
  }
}

}  // namespace

DWORD CreateDirectoryChain(const char16_t* base, std::u16string_view path,
                           std::vector<std::u16string>* made) {
  DWORD error = 0;
  std::u16string full = base != nullptr ? std::u16string(base) : std::u16string();
  if (base != nullptr) CreateIfMissing(full, &error, made);
  const std::size_t baseLength = full.size();
  // Outer folders first; a path that ends in a separator names its last folder twice, and the
  // second time it exists already.
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || IsZipPathSeparator(path[i])) {
      full.replace(baseLength, std::u16string::npos, path.substr(0, i));
      CreateIfMissing(full, &error, made);
    }
  }
  return error;
}

}  // namespace tarvo
