#include "unzip/create_directory_chain.h"

#include <string>

#include "platform/files.h"
#include "unzip/zip_item_name.h"

namespace tarvo {

namespace {

// Folder paths KnownFolders holds at most: a few hundred KiB.
constexpr std::size_t kKnownFoldersLimit = 1024;

void CreateIfMissing(const std::u16string& path, DWORD* error, std::vector<std::u16string>* made,
                     KnownFolders* known) {
  if (known != nullptr && known->Contains(path)) return;
  if (!PathFileExistsW(path.c_str())) {
    if (!CreateDirectoryW(path.c_str())) {
      *error = GetLastError();
      return;
    }
    if (made != nullptr) made->push_back(path);
  }
  if (known != nullptr) known->Add(path);
}

}  // namespace

void KnownFolders::Add(const std::u16string& path) {
  if (m_paths.size() >= kKnownFoldersLimit) m_paths.clear();
  m_paths.insert(path);
}

DWORD CreateDirectoryChain(const char16_t* base, std::u16string_view path,
                           std::vector<std::u16string>* made, KnownFolders* known) {
  DWORD error = 0;
  std::u16string full = base != nullptr ? std::u16string(base) : std::u16string();
  const std::size_t baseLength = full.size();
  // A folder that is there has its parents there too.
  if (known != nullptr) {
    full.append(path);
    if (known->Contains(full)) return 0;
    full.resize(baseLength);
  }
  if (base != nullptr) CreateIfMissing(full, &error, made, known);
  // Outer folders first; a path that ends in a separator names its last folder twice, and the
  // second time it exists already.
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || IsZipPathSeparator(path[i])) {
      full.replace(baseLength, std::u16string::npos, path.substr(0, i));
      CreateIfMissing(full, &error, made, known);
    }
  }
  return error;
}

}  // namespace tarvo
