// Reading a small item of an open archive into memory.

#include "unzip/zip_reader.h"

namespace tarvo {

namespace {

ZipResult ReadFailure(int code) {
  return code == ZipItemStream::kPasswordFailure ? ZIP_ERR_PASSWORD : ZIP_ERR_DATA;
}

ZipResult ReadItem(ZipReader& reader, std::int32_t index, std::uint32_t maxBytes,
                   std::string* data) {
  ZipItem item{};
  if (const ZipResult result = ReadZipItem(reader, index, &item); result != ZIP_OK) return result;
  // The record's size bounds what is read: data longer than it fails its check below.
  if (reader.cachedData.uncompressedSize > maxBytes) return ZIP_ERR_FILE;
  if (!reader.entry) reader.entry = std::make_unique<ZipItemStream>();
  if (const int opened = reader.entry->Open(reader.file, reader.cachedData); opened != 0) {
    reader.entry->Close();
    return ReadFailure(opened);
  }
  std::string bytes(static_cast<std::size_t>(reader.cachedData.uncompressedSize), '\0');
  std::size_t filled = 0;
  for (bool end = false; !end;) {
    const int n = reader.entry->Read(reinterpret_cast<std::uint8_t*>(bytes.data()) + filled,
                                     static_cast<std::uint32_t>(bytes.size() - filled), &end);
    if (n < 0 || (n == 0 && !end)) {
      reader.entry->Close();
      return ReadFailure(n);
    }
    filled += static_cast<std::size_t>(n);
  }
  if (reader.entry->Close() != ZipItemStream::Verdict::kComplete) return ZIP_ERR_DATA;
  bytes.resize(filled);
  *data = std::move(bytes);
  return ZIP_OK;
}

}  // namespace

ZipResult ZipReadItem(ZipHandle handle, std::int32_t index, std::uint32_t maxBytes,
                      std::string* data) noexcept {
  if (handle == nullptr || data == nullptr) return ZIP_ERR_ARGS;
  ZipReader& reader = *handle;
  try {
    reader.CloseEntry();
    if (index < 0 || index >= reader.directory.count) return ZIP_ERR_ARGS;
    return ReadItem(reader, index, maxBytes, data);
  } catch (...) {
    // Memory for the data could not be had.
    reader.CloseEntry();
    return ZIP_ERR_SYSTEM;
  }
}

}  // namespace tarvo
