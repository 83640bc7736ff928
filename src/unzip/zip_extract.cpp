// Writing an item of an open archive to disk.

#include <algorithm>
#include <string>
#include <string_view>

#include "common/windows_names.h"
#include "platform/disk_flush.h"
#include "platform/files.h"
#include "platform/output_file.h"
#include "unzip/zip_fields.h"
#include "unzip/create_directory_chain.h"
#include "unzip/system_failure.h"
#include "unzip/zip_item_name.h"
#include "unzip/zip_reader.h"

namespace tarvo {

namespace {

constexpr std::size_t kMaxPathLength = kZipNameSize - 1;
constexpr std::size_t kSuffixLength = std::char_traits<char16_t>::length(kZipTemporarySuffix);

// Where an item goes, and the folders to make on the way there.
struct ExtractionTarget {
  std::u16string base;     // empty for an absolute folder part
  std::u16string folders;  // relative to base, or absolute
  std::u16string file;     // the whole path of the file; empty for a directory item
};

// Places `name` under `root` unless it is absolute. ZIP_ERR_FILE for a name that could lead out
// of the root or that no path could hold with the temporary suffix; ZIP_ERR_SYSTEM for one that
// a path under this root cannot hold.
ZipResult ComposeTarget(const std::u16string& root, std::u16string_view name, bool directory,
                        ExtractionTarget* target) {
  if (name.size() + kSuffixLength > kMaxPathLength || !IsExtractablePath(name)) {
    return ZIP_ERR_FILE;
  }
  std::size_t split = name.size();
  if (!directory) {
    split = name.find_last_of(u"\\/");
    split = split == std::u16string_view::npos ? 0 : split + 1;
  }
  target->folders = std::u16string(name.substr(0, split));
  if (!target->folders.empty() && IsAbsoluteZipPath(target->folders)) {
    target->base.clear();
  } else {
    if (root.empty()) return ZIP_ERR_SYSTEM;
    target->base = root;
  }
  const std::u16string path = target->base + std::u16string(name);
  if (path.size() + kSuffixLength > kMaxPathLength) return ZIP_ERR_SYSTEM;
  if (!directory) target->file = path;
  return ZIP_OK;
}

// ZIP_ERR_SYSTEM for a failure of the machine, else `otherwise`.
ZipResult Classify(DWORD error, ZipResult otherwise) {
  return IsSystemFailure(error) ? ZIP_ERR_SYSTEM : otherwise;
}

// Removes a file whatever its attributes; nothing when there is none.
void Discard(const std::u16string& path) {
  if (DeleteFileW(path.c_str()) || GetLastError() != ERROR_ACCESS_DENIED) return;
  // Windows deletes no read-only file.
  SetFileAttributesW(path.c_str(), 0);
  DeleteFileW(path.c_str());
}

// The file an item is written to before it takes its target's place: removed on the way out
// unless it took that place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::u16string& target) : path_(target + kZipTemporarySuffix) {
    Discard(path_);  // what an earlier try left
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!placed_) Discard(path_);
  }
  const std::u16string& path() const { return path_; }
  void Placed() { placed_ = true; }

 private:
  std::u16string path_;
  bool placed_ = false;
};

bool IsRunningExecutable(const std::u16string& path) {
  const std::u16string module = GetModulePath();
  return !module.empty() && SamePathIgnoringCase(module, path);
}

// Moves the complete file over its target.
ZipResult Replace(const std::u16string& temporary, const std::u16string& target) {
  if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return ZIP_OK;
  DWORD error = GetLastError();
  // Windows keeps a running image from being replaced, but lets it be renamed.
  if (IsRunningExecutable(target)) {
    const std::u16string aside = target + kZipAsideSuffix;
    if (MoveFileExW(target.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      if (MoveFileExW(temporary.c_str(), target.c_str(), 0)) return ZIP_OK;
      error = GetLastError();
      MoveFileExW(aside.c_str(), target.c_str(), 0);
    } else {
      error = GetLastError();
    }
  }
  return Classify(error, ZIP_ERR_FILE);
}

ZipResult CopyItemData(ZipReader& reader, const ZipItem& item, COutputFile& output) {
  // Data short of its recorded size or failing its CRC-32 never takes the item's place.
  const ZipResult result =
      DrainZipEntry(reader, [&output](const std::uint8_t* bytes, std::uint32_t size) {
        return output.Write(bytes, static_cast<DWORD>(size));
      });
  if (result == ZIP_OK) {
    output.SetFileTime(item.creationTime, item.accessTime, item.modificationTime);
  }
  return result;
}

ZipResult ExtractItem(ZipReader& reader, std::int32_t index, std::u16string_view name,
                      ZipItemWriter* writer) {
  ZipItem item{};
  if (const ZipResult result = ReadZipItem(reader, index, &item); result != ZIP_OK) {
    return result;
  }
  const bool directory = (item.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  ExtractionTarget target;
  if (const ZipResult result = ComposeTarget(reader.root, name, directory, &target);
      result != ZIP_OK) {
    return result;
  }
  const DWORD folderError =
      CreateDirectoryChain(target.base.empty() ? nullptr : target.base.c_str(), target.folders,
                           reader.holding ? &reader.heldFolders : nullptr, &reader.folders);
  if (directory) {
    const std::u16string folder = target.base + target.folders;
    return reader.folders.Contains(folder) || PathFileExistsW(folder.c_str())
               ? ZIP_OK
               : Classify(folderError, ZIP_OK);
  }
  // A directory or a read-only file in the item's place is kept; the archive cannot have it.
  const DWORD existing = GetFileAttributesW(target.file.c_str());
  const bool replaces = existing != INVALID_FILE_ATTRIBUTES;
  if (replaces && (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    // What a stopped earlier try of this item left would otherwise stay for good.
    Discard(target.file + kZipTemporarySuffix);
    return ZIP_ERR_FILE;
  }

  if (!reader.entry) reader.entry = std::make_unique<ZipItemStream>();
  // The item is opened before anything is written, so that an item that cannot be read at all
  // (a wrong password included) leaves nothing behind.
  const int opened = reader.entry->Open(reader.file, reader.cachedData);
  if (opened != 0) {
    reader.entry->Close();
    return opened == ZipItemStream::kPasswordFailure ? ZIP_ERR_PASSWORD : ZIP_ERR_DATA;
  }
  // A later item of the same name takes the place of one held.
  std::erase_if(reader.held, [&target](const ZipReader::HeldItem& held) {
    return SamePathIgnoringCase(held.target, target.file);
  });
  TemporaryFile temporary(target.file);
  COutputFile output;
  if (!output.Create(temporary.path().c_str(), item.attributes & ~FILE_ATTRIBUTE_DIRECTORY,
                     replaces ? target.file.c_str() : nullptr)) {
    DWORD error = GetLastError();
    reader.entry->Close();
    // A folder that the system would not make shows here as a missing path.
    if (folderError != 0 && !IsSystemFailure(error)) error = folderError;
    return Classify(error, ZIP_ERR_FILE);
  }
  ZipResult result = writer != nullptr ? WriteItemData(reader, item, *writer, target.file, output)
                                       : CopyItemData(reader, item, output);
  // The empty password reads such an item's check byte right once in 256 tries.
  if (result == ZIP_ERR_DATA && (reader.cachedData.flags & kZipFlagEncrypted) != 0) {
    result = ZIP_ERR_PASSWORD;
  }
  if (result == ZIP_OK && reader.flush != nullptr &&
      !reader.flush->FlushOutputFile(output, temporary.path())) {
    result = Classify(GetLastError(), ZIP_ERR_WRITE);
  }
  if (!output.Close() && result == ZIP_OK) result = ZIP_ERR_WRITE;
  reader.entry->Close();
  if (result != ZIP_OK) return result;
  if (reader.holding) {
    reader.held.push_back({temporary.path(), target.file});
    temporary.Placed();
    return ZIP_OK;
  }
  result = Replace(temporary.path(), target.file);
  if (result == ZIP_OK) temporary.Placed();
  return result;
}

}  // namespace

ZipResult DrainZipEntry(ZipReader& reader,
                        const std::function<bool(const std::uint8_t*, std::uint32_t)>& sink) {
  if (!reader.outputBuffer) {
    reader.outputBuffer = std::make_unique<std::uint8_t[]>(kZipOutputBufferSize);
  }
  std::uint8_t* const buffer = reader.outputBuffer.get();
  for (;;) {
    bool end = false;
    const int n = reader.entry->Read(buffer, kZipOutputBufferSize, &end);
    if (n == ZipItemStream::kPasswordFailure) return ZIP_ERR_PASSWORD;
    if (n < 0) return ZIP_ERR_DATA;
    if (n > 0 && !sink(buffer, static_cast<std::uint32_t>(n))) return ZIP_ERR_WRITE;
    if (end) {
      return reader.entry->Close() == ZipItemStream::Verdict::kComplete ? ZIP_OK : ZIP_ERR_DATA;
    }
    if (n == 0) return ZIP_ERR_DATA;
  }
}

void DiscardHeldItems(ZipReader& reader) {
  // Folders of held items may go, and with them what was known of them.
  reader.folders.Clear();
  try {
    for (const ZipReader::HeldItem& item : reader.held) Discard(item.temporary);
    // Inner folders first; one that holds something else stays.
    for (auto folder = reader.heldFolders.rbegin(); folder != reader.heldFolders.rend(); ++folder) {
      RemoveDirectoryW(folder->c_str());
    }
  } catch (...) {
    // Memory for a path could not be had: what is left is replaced by the next try.
  }
  reader.held.clear();
  reader.heldFolders.clear();
}

ZipResult ZipHoldItems(ZipHandle handle, bool hold) noexcept {
  if (handle == nullptr) return ZIP_ERR_ARGS;
  handle->holding = hold;
  return ZIP_OK;
}

ZipResult ZipFlushItems(ZipHandle handle, const CDiskFlush* flush) noexcept {
  if (handle == nullptr) return ZIP_ERR_ARGS;
  handle->flush = flush;
  return ZIP_OK;
}

ZipResult ZipPlaceHeldItems(ZipHandle handle) noexcept {
  if (handle == nullptr) return ZIP_ERR_ARGS;
  ZipReader& reader = *handle;
  ZipResult result = ZIP_OK;
  try {
    std::size_t placed = 0;
    for (; placed < reader.held.size(); ++placed) {
      const ZipReader::HeldItem& item = reader.held[placed];
      const ZipResult moved = Replace(item.temporary, item.target);
      if (moved == ZIP_ERR_SYSTEM) break;
      if (moved != ZIP_OK) Discard(item.temporary);
    }
    reader.held.erase(reader.held.begin(),
                      reader.held.begin() + static_cast<std::ptrdiff_t>(placed));
    if (!reader.held.empty()) result = ZIP_ERR_SYSTEM;
  } catch (...) {
    result = ZIP_ERR_SYSTEM;
  }
  // The folders of what was placed stay; what could not be placed goes.
  reader.heldFolders.clear();
  DiscardHeldItems(reader);
  return result;
}

ZipResult ZipDiscardHeldItems(ZipHandle handle) noexcept {
  if (handle == nullptr) return ZIP_ERR_ARGS;
  ZipReader& reader = *handle;
  DiscardHeldItems(reader);
  try {
    reader.CloseEntry();
    for (std::int32_t i = 0; i < reader.directory.count; ++i) {
      ZipItem item{};
      ExtractionTarget target;
      if (ReadZipItem(reader, i, &item) == ZIP_OK &&
          (item.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
          ComposeTarget(reader.root, item.name, false, &target) == ZIP_OK) {
        Discard(target.file + kZipTemporarySuffix);
      }
    }
  } catch (...) {
    // Memory for a path could not be had.
  }
  return ZIP_OK;
}

namespace {

ZipResult ExtractItemNoThrow(ZipHandle handle, std::int32_t index, const char16_t* name,
                             ZipItemWriter* writer) noexcept {
  if (handle == nullptr) return ZIP_ERR_ARGS;
  ZipReader& reader = *handle;
  try {
    reader.CloseEntry();
    if (index < 0 || index >= reader.directory.count || name == nullptr) return ZIP_ERR_ARGS;
    return ExtractItem(reader, index, name, writer);
  } catch (...) {
    // Memory for the buffers could not be had.
    reader.CloseEntry();
    return ZIP_ERR_SYSTEM;
  }
}

}  // namespace

ZipResult ZipExtractItem(ZipHandle handle, std::int32_t index, const char16_t* name) noexcept {
  return ExtractItemNoThrow(handle, index, name, nullptr);
}

ZipResult ZipExtractItemWith(ZipHandle handle, std::int32_t index, const char16_t* name,
                             ZipItemWriter& writer) noexcept {
  return ExtractItemNoThrow(handle, index, name, &writer);
}

}  // namespace tarvo
