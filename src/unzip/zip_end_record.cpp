#include "unzip/zip_end_record.h"

#include "unzip/zip_fields.h"

namespace tarvo {

namespace {

constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndRecordSize = 56;
constexpr std::string_view kZip64LocatorSignature{"PK\x06\x07", 4};
constexpr std::string_view kZip64EndSignature{"PK\x06\x06", 4};

std::uint64_t LittleEndian(std::string_view bytes, std::size_t at, int size) {
  return ZipLittleEndian(bytes.data() + at, size);
}

// The directory's size and offset, its entry count and where it must end, from the zip64 end
// record that the locator in front of the end record at `end` names. False without one.
bool ReadZip64(std::string_view tail, std::uint64_t tailStart, std::size_t end,
               ZipEndRecord* record, std::uint64_t* directoryEnd, std::uint64_t* offset) {
  if (end < kZip64LocatorSize) return false;
  const std::size_t locator = end - kZip64LocatorSize;
  if (tail.substr(locator, 4) != kZip64LocatorSignature) return false;
  if (LittleEndian(tail, locator + 4, 4) != 0 || LittleEndian(tail, locator + 16, 4) > 1) {
    return false;  // another disk
  }
  // The zip64 end record stands right in front of its locator, also with data in front of the
  // archive (its recorded offset is then shifted), so it is looked for there.
  if (locator < kZip64EndRecordSize) return false;
  const std::size_t at = locator - kZip64EndRecordSize;
  if (tail.substr(at, 4) != kZip64EndSignature) return false;
  if (LittleEndian(tail, at + 16, 4) != 0 || LittleEndian(tail, at + 20, 4) != 0 ||
      LittleEndian(tail, at + 24, 8) != LittleEndian(tail, at + 32, 8)) {
    return false;
  }
  record->entries = LittleEndian(tail, at + 32, 8);
  record->directorySize = LittleEndian(tail, at + 40, 8);
  *offset = LittleEndian(tail, at + 48, 8);
  *directoryEnd = tailStart + at;
  return true;
}

}  // namespace

std::optional<ZipEndRecord> FindZipEndRecord(std::string_view tail, std::uint64_t fileSize) {
  if (tail.size() > fileSize || tail.size() < kZipEndRecordSize) return std::nullopt;
  const std::uint64_t tailStart = fileSize - tail.size();
  for (std::size_t at = tail.size() - kZipEndRecordSize + 1; at-- > 0;) {
    if (tail.substr(at, 4) != kZipEndSignature) continue;
    // The nearest signature counts, as readers take it; a record that says otherwise than a
    // single-disk archive ends the search.
    ZipEndRecord record;
    record.position = tailStart + at;
    record.commentLength = static_cast<std::uint16_t>(LittleEndian(tail, at + 20, 2));
    const std::uint64_t disk = LittleEndian(tail, at + 4, 2);
    const std::uint64_t directoryDisk = LittleEndian(tail, at + 6, 2);
    const std::uint64_t entriesHere = LittleEndian(tail, at + 8, 2);
    record.entries = LittleEndian(tail, at + 10, 2);
    record.directorySize = LittleEndian(tail, at + 12, 4);
    std::uint64_t offset = LittleEndian(tail, at + 16, 4);
    std::uint64_t directoryEnd = record.position;
    const bool deferred =
        record.entries == 0xFFFF || record.directorySize == 0xFFFFFFFF || offset == 0xFFFFFFFF;
    record.zip64 = ReadZip64(tail, tailStart, at, &record, &directoryEnd, &offset);
    if (deferred && !record.zip64) return std::nullopt;
    if (!record.zip64 && (disk != 0 || directoryDisk != 0 || entriesHere != record.entries)) {
      return std::nullopt;
    }
    if (record.directorySize > directoryEnd || offset > directoryEnd - record.directorySize) {
      return std::nullopt;
    }
    record.directoryStart = directoryEnd - record.directorySize;
    record.prefixSize = record.directoryStart - offset;
    return record;
  }
  return std::nullopt;
}

}  // namespace tarvo
