// Opening and closing archives, and describing their items.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "unzip/zip_fields.h"
#include "unzip/zip_item_attributes.h"
#include "unzip/zip_item_name.h"
#include "unzip/zip_item_times.h"
#include "unzip/zip_reader.h"

namespace tarvo {

namespace {

constexpr std::uint16_t kFlagUtf8Name = 0x800;

// The current directory with a separator at its end, if that fits a name buffer.
std::u16string CurrentDirectoryAsRoot() {
  char16_t buffer[kZipNameSize] = {};
  const DWORD length = GetCurrentDirectoryW(kZipNameSize, buffer);
  if (length == 0 || length >= kZipNameSize) return {};
  std::u16string root(buffer, length);
  if (!IsZipPathSeparator(root.back())) root.push_back(u'\\');
  return root.size() < kZipNameSize ? root : std::u16string();
}

// Checks the item's local header against its central record, reads its extra field and finds
// where its data starts. Sizes are compared unless the header leaves them to a data descriptor
// or to its zip64 block; the data is read by the central record's sizes in any case, and its
// CRC-32 checked.
ZipResult ReadLocalHeader(ZipReader& reader, const ZipCentralRecord& record,
                          std::vector<std::uint8_t>* extra, std::uint64_t* dataStart) {
  const std::uint64_t fileSize = reader.file.Size();
  if (record.localHeaderOffset > fileSize - reader.directory.prefixSize) return ZIP_ERR_CORRUPT;
  const std::uint64_t at = reader.directory.prefixSize + record.localHeaderOffset;
  std::uint8_t header[kZipLocalHeaderSize];
  if (!reader.file.ReadAt(at, header, kZipLocalHeaderSize) ||
      std::memcmp(header, kZipLocalHeaderSignature, 4) != 0 ||
      ZipLittleEndian(header + 8, 2) != record.method ||
      ZipLittleEndian(header + 26, 2) != record.name.size()) {
    return ZIP_ERR_CORRUPT;
  }
  if ((ZipLittleEndian(header + 6, 2) & kZipFlagDataDescriptor) == 0) {
    const std::uint64_t compressed = ZipLittleEndian(header + 18, 4);
    const std::uint64_t uncompressed = ZipLittleEndian(header + 22, 4);
    if (ZipLittleEndian(header + 14, 4) != record.crc ||
        (compressed != kZipDeferred && compressed != record.compressedSize) ||
        (uncompressed != kZipDeferred && uncompressed != record.uncompressedSize)) {
      return ZIP_ERR_CORRUPT;
    }
  }
  const auto extraLength = static_cast<std::uint32_t>(ZipLittleEndian(header + 28, 2));
  const std::uint64_t extraStart = at + kZipLocalHeaderSize + record.name.size();
  extra->resize(extraLength);
  if (!reader.file.ReadAt(extraStart, extra->data(), extraLength)) return ZIP_ERR_READ;
  *dataStart = extraStart + extraLength;
  return ZIP_OK;
}

// Moves navigation to the record of item `index` (0 <= index < count), stepping forward only
// and starting again from the first record for an earlier index. False when a record on the
// way cannot be read.
bool GoToZipItem(ZipReader& reader, std::int32_t index) {
  if (reader.currentIndex < 0 || index < reader.currentIndex) {
    reader.currentIndex = 0;
    reader.currentOffset = reader.directory.start;
  }
  ZipCentralRecord record;
  while (reader.currentIndex < index) {
    if (!ReadZipCentralRecord(reader.file, reader.directory, reader.currentOffset, &record)) {
      reader.currentIndex = -1;
      return false;
    }
    reader.currentOffset += record.size;
    ++reader.currentIndex;
  }
  return true;
}

// Opens the archive at `path` into `reader`: its whole central directory read.
bool OpenZipReader(ZipReader& reader, const char16_t* path) {
  if (!reader.file.Open(path)) return false;
  const std::optional<ZipDirectory> directory = ReadZipDirectory(reader.file);
  if (!directory) return false;
  reader.directory = *directory;
  reader.currentOffset = directory->start;
  return true;
}

}  // namespace

ZipReader::~ZipReader() {
  DiscardHeldItems(*this);
  CloseEntry();
}

void ZipReader::CloseEntry() {
  if (entry) entry->Close();
}

ZipResult ReadZipItem(ZipReader& reader, std::int32_t index, ZipItem* item) {
  if (index == reader.cachedIndex) {
    *item = reader.cachedItem;
    return ZIP_OK;
  }
  ZipCentralRecord info;
  if (!GoToZipItem(reader, index) ||
      !ReadZipCentralRecord(reader.file, reader.directory, reader.currentOffset, &info)) {
    return ZIP_ERR_CORRUPT;
  }
  if (info.method != kZipMethodStored && info.method != kZipMethodDeflated)
    return ZIP_ERR_UNSUPPORTED;
  std::vector<std::uint8_t> extra;
  std::uint64_t dataStart = 0;
  if (const ZipResult result = ReadLocalHeader(reader, info, &extra, &dataStart);
      result != ZIP_OK) {
    return result;
  }
  // Names that do not fit the record's name whole are refused, never cut.
  std::u16string name;
  if (info.name.size() >= kZipNameSize ||
      !DecodeZipItemName(info.name, (info.flags & kFlagUtf8Name) != 0, kZipNameSize - 1, &name)) {
    return ZIP_ERR_UNSUPPORTED;
  }
  name = CleanZipItemName(std::move(name));

  ZipItem record{};
  record.index = index;
  std::copy(name.begin(), name.end(), record.name);
  record.attributes = MapZipAttributes(info.versionMadeBy, info.externalAttributes);
  record.compressedSize = info.compressedSize;
  record.uncompressedSize = info.uncompressedSize;
  const ZipItemTimes times = ZipItemTimesFrom(info.dosDate, extra.data(), extra.size());
  record.accessTime = times.access;
  record.creationTime = times.creation;
  record.modificationTime = times.modification;

  ZipItemData data;
  data.headerOffset = reader.directory.prefixSize + info.localHeaderOffset;
  data.offset = dataStart;
  data.compressedSize = info.compressedSize;
  data.uncompressedSize = info.uncompressedSize;
  data.crc = info.crc;
  data.dosDate = info.dosDate;
  data.flags = info.flags;
  data.deflated = info.method == kZipMethodDeflated;

  *item = record;
  reader.cachedItem = record;
  reader.cachedData = data;
  reader.cachedIndex = index;
  return ZIP_OK;
}

ZipHandle ZipOpenArchive(const char16_t* path) noexcept {
  if (path == nullptr) return nullptr;
  try {
    auto reader = std::make_unique<ZipReader>();
    reader->root = CurrentDirectoryAsRoot();
    return OpenZipReader(*reader, path) ? reader.release() : nullptr;
  } catch (...) {
    return nullptr;
  }
}

ZipResult ZipGetItem(ZipHandle handle, std::int32_t index, ZipItem* item) noexcept {
  if (handle == nullptr || item == nullptr) return ZIP_ERR_ARGS;
  ZipReader& reader = *handle;
  if (index < -1 || index >= reader.directory.count) return ZIP_ERR_ARGS;
  try {
    reader.CloseEntry();
    if (index == -1) {
      // The count is never cached.
      *item = ZipItem{};
      item->index = reader.directory.count;
      return ZIP_OK;
    }
    return ReadZipItem(reader, index, item);
  } catch (...) {
    return ZIP_ERR_CORRUPT;
  }
}

ZipResult ZipCloseArchive(ZipHandle handle) noexcept {
  if (handle == nullptr) return ZIP_ERR_ARGS;
  std::unique_ptr<ZipReader> reader(handle);
  return ZIP_OK;
}

}  // namespace tarvo
