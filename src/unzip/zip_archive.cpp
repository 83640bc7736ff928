// Opening and closing archives, and describing their items.

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "platform/files.h"
#include "unzip/zip_end_record.h"
#include "unzip/zip_item_attributes.h"
#include "unzip/zip_item_name.h"
#include "unzip/zip_item_times.h"
#include "unzip/zip_reader.h"

namespace tarvo {

namespace {

// The current directory with a separator at its end, if that fits a name buffer.
std::u16string CurrentDirectoryAsRoot() {
  char16_t buffer[kZipNameSize] = {};
  const DWORD length = GetCurrentDirectoryW(kZipNameSize, buffer);
  if (length == 0 || length >= kZipNameSize) return {};
  std::u16string root(buffer, length);
  if (!IsZipPathSeparator(root.back())) root.push_back(u'\\');
  return root.size() < kZipNameSize ? root : std::u16string();
}

std::uint32_t Saturated32(std::uint64_t value) {
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

// Reads the local extra field of the current entry, and where its data starts. minizip checks
// the local header against the record on opening; its own reading of the extra field misses
// the field in an archive with data in front of it, so the field is read here, just before the
// data it precedes.
ZipResult ReadLocalHeader(ZipReader& reader, std::vector<std::uint8_t>* extra,
                          std::uint64_t* dataStart) {
  int method = 0, level = 0;
  if (unzOpenCurrentFile2(reader.archive, &method, &level, 1) != UNZ_OK) return ZIP_ERR_CORRUPT;
  const int length = unzGetLocalExtrafield(reader.archive, nullptr, 0);
  *dataStart = unzGetCurrentFileZStreamPos64(reader.archive);
  bool complete = length >= 0 && *dataStart >= static_cast<ZPOS64_T>(length);
  if (complete) {
    extra->resize(static_cast<std::size_t>(length));
    complete = reader.file.ReadAt(*dataStart - static_cast<ZPOS64_T>(length), extra->data(),
                                  static_cast<std::uint32_t>(length));
  }
  unzCloseCurrentFile(reader.archive);
  return complete ? ZIP_OK : ZIP_ERR_READ;
}

// minizip takes an end record at the very start of a file for no end record at all. An archive
// without items, as writers make it, is nothing but that record and its comment.
bool IsEmptyArchive(ZipArchiveFile& file, const char16_t* path) {
  std::uint8_t record[kZipEndRecordSize];
  const bool read = file.Open(path) && file.ReadAt(0, record, kZipEndRecordSize);
  const std::uint64_t size = file.Size();
  file.Close();
  static constexpr std::uint8_t kEmpty[20] = {'P', 'K', 5, 6};  // disks, counts, sizes all 0
  return read && std::equal(kEmpty, kEmpty + 20, record) &&
         size == kZipEndRecordSize + (record[20] | (record[21] << 8));
}

}  // namespace

ZipReader::~ZipReader() {
  DiscardHeldItems(*this);
  CloseEntry();
  entry.reset();
  if (archive != nullptr) unzClose(archive);
}

void ZipReader::CloseEntry() {
  if (entry) entry->Close();
}

bool GoToZipItem(ZipReader& reader, std::int32_t index) {
  if (index >= reader.unreachableFrom) return false;
  if (reader.currentIndex < 0 || index < reader.currentIndex) {
    reader.currentIndex = -1;
    if (unzGoToFirstFile(reader.archive) != UNZ_OK) {
      reader.unreachableFrom = 0;
      return false;
    }
    reader.currentIndex = 0;
  }
  while (reader.currentIndex < index) {
    if (unzGoToNextFile(reader.archive) != UNZ_OK) {
      reader.unreachableFrom = reader.currentIndex + 1;
      reader.currentIndex = -1;
      return false;
    }
    ++reader.currentIndex;
  }
  return true;
}

ZipResult ReadZipItem(ZipReader& reader, std::int32_t index, ZipItem* item) {
  if (index == reader.cachedIndex) {
    *item = reader.cachedItem;
    return ZIP_OK;
  }
  if (!GoToZipItem(reader, index)) return ZIP_ERR_CORRUPT;
  unz_file_info64 info{};
  char rawName[kZipNameSize];
  if (unzGetCurrentFileInfo64(reader.archive, &info, rawName, sizeof rawName, nullptr, 0, nullptr,
                              0) != UNZ_OK ||
      (info.compression_method != 0 && info.compression_method != Z_DEFLATED)) {
    return ZIP_ERR_CORRUPT;
  }
  std::vector<std::uint8_t> extra;
  std::uint64_t dataStart = 0;
  if (const ZipResult result = ReadLocalHeader(reader, &extra, &dataStart); result != ZIP_OK) {
    return result;
  }
  // A name that fills the buffer may have been cut by it.
  std::u16string name;
  constexpr unsigned long kUtf8Name = 0x800;
  if (info.size_filename >= sizeof rawName ||
      !DecodeZipItemName(std::string_view(rawName, info.size_filename),
                         (info.flag & kUtf8Name) != 0, kZipNameSize - 1, &name)) {
    return ZIP_ERR_CORRUPT;
  }
  name = CleanZipItemName(std::move(name));

  ZipItem record{};
  record.index = index;
  std::copy(name.begin(), name.end(), record.name);
  record.attributes = MapZipAttributes(static_cast<std::uint16_t>(info.version),
                                       static_cast<std::uint32_t>(info.external_fa));
  record.compressedSize = Saturated32(info.compressed_size);
  record.uncompressedSize = Saturated32(info.uncompressed_size);
  const ZipItemTimes times =
      ZipItemTimesFrom(static_cast<std::uint32_t>(info.dosDate), extra.data(), extra.size());
  record.accessTime = times.access;
  record.creationTime = times.creation;
  record.modificationTime = times.modification;

  ZipItemData data;
  data.offset = dataStart;
  data.compressedSize = info.compressed_size;
  data.uncompressedSize = info.uncompressed_size;
  data.crc = static_cast<std::uint32_t>(info.crc);
  data.dosDate = static_cast<std::uint32_t>(info.dosDate);
  data.flags = static_cast<std::uint32_t>(info.flag);
  data.deflated = info.compression_method == Z_DEFLATED;

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
    zlib_filefunc64_def functions = reader->file.Functions();
    reader->archive = unzOpen2_64(path, &functions);
    if (reader->archive == nullptr) {
      // Nothing to read: the count is 0 and every index is out of range.
      return IsEmptyArchive(reader->file, path) ? reader.release() : nullptr;
    }
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(reader->archive, &global) != UNZ_OK) return nullptr;
    reader->count = static_cast<std::int32_t>(std::min<ZPOS64_T>(
        global.number_entry, static_cast<ZPOS64_T>(std::numeric_limits<std::int32_t>::max())));
    return reader.release();
  } catch (...) {
    return nullptr;
  }
}

ZipResult ZipGetItem(ZipHandle handle, std::int32_t index, ZipItem* item) noexcept {
  if (handle == nullptr || item == nullptr) return ZIP_ERR_ARGS;
  ZipReader& reader = *handle;
  if (index < -1 || index >= reader.count) return ZIP_ERR_ARGS;
  try {
    reader.CloseEntry();
    if (index == -1) {
      // The count is never cached.
      *item = ZipItem{};
      item->index = reader.count;
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
