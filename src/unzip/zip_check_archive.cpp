// Checking a whole archive as the installer will read it, before it is stored.

#include "unzip/zip_fields.h"
#include "unzip/zip_archive.h"
#include "unzip/zip_reader.h"
#include "unzip/zip_stream_check.h"

namespace tarvo {

namespace {

// ZIP_OK when item `index` is whole or is one the installer leaves alone.
ZipResult CheckItem(ZipReader& reader, std::int32_t index, const ZipStreamCheck* followed) {
  ZipItem item{};
  const ZipResult read = ReadZipItem(reader, index, &item);
  if (read == ZIP_ERR_UNSUPPORTED) return ZIP_OK;
  if (read != ZIP_OK) return read;
  const ZipItemData& data = reader.cachedData;
  if ((data.flags & kZipFlagEncrypted) != 0) return ZIP_OK;
  if (followed != nullptr) {
    const ZipStreamCheck::Followed* seen = followed->Find(data.headerOffset);
    if (seen != nullptr && seen->dataOffset == data.offset && seen->size == data.uncompressedSize &&
        seen->crc == data.crc) {
      return ZIP_OK;
    }
  }
  if (!reader.entry) reader.entry = std::make_unique<ZipItemStream>();
  if (reader.entry->Open(reader.file, data) != 0) {
    reader.entry->Close();
    return ZIP_ERR_DATA;
  }
  return DrainZipEntry(reader, [](const std::uint8_t*, std::uint32_t) { return true; });
}

}  // namespace

bool ZipCheckArchive(const char16_t* path, const ZipStreamCheck* followed) noexcept {
  if (path == nullptr) return false;
  try {
    const std::unique_ptr<ZipReader> reader(ZipOpenArchive(path));
    if (!reader) return false;
    for (std::int32_t i = 0; i < reader->directory.count; ++i) {
      if (CheckItem(*reader, i, followed) != ZIP_OK) return false;
    }
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace tarvo
