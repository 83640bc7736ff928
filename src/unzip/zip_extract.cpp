// Writing an item of an open archive to disk.

#include <string>
#include <string_view>

#include "platform/output_file.h"
#include "unzip/create_directory_chain.h"
#include "unzip/zip_item_name.h"
#include "unzip/zip_reader.h"

namespace tarvo {

namespace {

constexpr std::size_t kMaxPathLength = kZipNameSize - 1;

// Where an item goes, and the folders to make on the way there.
struct ExtractionTarget {
  std::u16string base;     // empty for an absolute folder part
  std::u16string folders;  // relative to base, or absolute
  std::u16string file;     // the whole path of the file; empty for a directory item
};

// Places `name` under `root` unless it is absolute. False for a name that could lead out of
// the root, or a path that does not fit.
bool ComposeTarget(const std::u16string& root, std::u16string_view name, bool directory,
                   ExtractionTarget* target) {
  if (name.size() > kMaxPathLength || !IsExtractablePath(name)) return false;
  std::size_t split = name.size();
  if (!directory) {
    split = name.find_last_of(u"\\/");
    split = split == std::u16string_view::npos ? 0 : split + 1;
  }
  target->folders = std::u16string(name.substr(0, split));
  if (!target->folders.empty() && IsAbsoluteZipPath(target->folders)) {
    target->base.clear();
  } else {
    if (root.empty()) return false;
    target->base = root;
  }
  const std::u16string path = target->base + std::u16string(name);
  if (path.size() > kMaxPathLength) return false;
  if (!directory) target->file = path;
  return true;
}

ZipResult CopyItemData(ZipReader& reader, const ZipItem& item, COutputFile& output) {
  std::uint8_t* const buffer = reader.outputBuffer.get();
  for (;;) {
    bool end = false;
    const int n = reader.entry->Read(buffer, kZipOutputBufferSize, &end);
    if (n == ZipItemStream::kPasswordFailure) return ZIP_ERR_PASSWORD;
    if (n < 0) return ZIP_ERR_DATA;
    if (n > 0 && !output.Write(buffer, static_cast<DWORD>(n))) return ZIP_ERR_WRITE;
    if (end) {
      // A file that is short of its recorded size or fails its CRC-32 is not passed off as
      // the item: it keeps the time it was written at.
      if (reader.entry->Close() != ZipItemStream::Verdict::kComplete) return ZIP_ERR_DATA;
      output.SetFileTime(item.creationTime, item.accessTime, item.modificationTime);
      return ZIP_OK;
    }
    if (n == 0) return ZIP_ERR_DATA;
  }
}

ZipResult ExtractItem(ZipReader& reader, std::int32_t index, std::u16string_view name) {
  ZipItem item{};
  if (const ZipResult result = ReadZipItem(reader, index, &item); result != ZIP_OK) {
    return result;
  }
  const bool directory = (item.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  ExtractionTarget target;
  if (!ComposeTarget(reader.root, name, directory, &target)) return ZIP_ERR_FILE;
  CreateDirectoryChain(target.base.empty() ? nullptr : target.base.c_str(), target.folders);
  if (directory) return ZIP_OK;

  if (!GoToZipItem(reader, index)) return ZIP_ERR_CORRUPT;
  if (!reader.entry) reader.entry = std::make_unique<ZipItemStream>();
  if (!reader.outputBuffer) {
    reader.outputBuffer = std::make_unique<std::uint8_t[]>(kZipOutputBufferSize);
  }
  // The item is opened before its file is created, so that an item that cannot be read at
  // all (a wrong password included) leaves a file that stands there as it was.
  const int opened = reader.entry->Open(reader.archive);
  if (opened != 0) {
    reader.entry->Close();
    return opened == ZipItemStream::kPasswordFailure ? ZIP_ERR_PASSWORD : ZIP_ERR_DATA;
  }
  COutputFile output;
  if (!output.Create(target.file.c_str(), item.attributes & ~FILE_ATTRIBUTE_DIRECTORY)) {
    reader.entry->Close();
    return ZIP_ERR_FILE;
  }
  ZipResult result = CopyItemData(reader, item, output);
  if (!output.Close() && result == ZIP_OK) result = ZIP_ERR_WRITE;
  reader.entry->Close();
  return result;
}

}  // namespace

ZipResult ZipExtractItem(ZipHandle handle, std::int32_t index, const char16_t* name) noexcept {
  if (handle == nullptr) return ZIP_ERR_ARGS;
  ZipReader& reader = *handle;
  try {
    reader.CloseEntry();
    if (index < 0 || index >= reader.count || name == nullptr) return ZIP_ERR_ARGS;
    return ExtractItem(reader, index, name);
  } catch (...) {
    // Memory for the buffers could not be had.
    reader.CloseEntry();
    return ZIP_ERR_DATA;
  }
}

}  // namespace tarvo
