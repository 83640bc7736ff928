#include "unzip/zip_directory.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "unzip/zip_end_record.h"
#include "unzip/zip_fields.h"

namespace tarvo {

namespace {

// Bytes of a record before its name.
constexpr std::uint32_t kFixedSize = 46;

// Takes the values of the zip64 block for the fields that defer to it, in the order the block
// holds them. A field whose value the block lacks keeps its 32-bit value, as unzip reads it.
void ApplyZip64Block(std::string_view extra, ZipCentralRecord* record) {
  const auto block = FindZipExtraBlock(reinterpret_cast<const std::uint8_t*>(extra.data()),
                                       extra.size(), kZip64BlockId);
  if (!block) return;
  std::size_t at = 0;
  for (std::uint64_t* field :
       {&record->uncompressedSize, &record->compressedSize, &record->localHeaderOffset}) {
    if (*field != kZipDeferred) continue;
    if (block->size() - at < 8) return;
    *field = ZipLittleEndian(block->data() + at, 8);
    at += 8;
  }
}

}  // namespace

bool ReadZipCentralRecord(ZipArchiveFile& file, const ZipDirectory& directory, std::uint64_t offset,
                          ZipCentralRecord* record) {
  std::uint8_t fixed[kFixedSize];
  if (offset > directory.end || directory.end - offset < kFixedSize ||
      !file.ReadAt(offset, fixed, kFixedSize) ||
      std::memcmp(fixed, kZipDirectorySignature.data(), 4) != 0) {
    return false;
  }
  const auto nameLength = static_cast<std::uint32_t>(ZipLittleEndian(fixed + 28, 2));
  const auto extraLength = static_cast<std::uint32_t>(ZipLittleEndian(fixed + 30, 2));
  const auto commentLength = static_cast<std::uint32_t>(ZipLittleEndian(fixed + 32, 2));
  const std::uint64_t size = kFixedSize + nameLength + extraLength + commentLength;
  if (size > directory.end - offset) return false;
  std::string variable(nameLength + extraLength, '\0');
  if (!file.ReadAt(offset + kFixedSize, variable.data(),
                   static_cast<std::uint32_t>(variable.size()))) {
    return false;
  }
  record->versionMadeBy = static_cast<std::uint16_t>(ZipLittleEndian(fixed + 4, 2));
  record->flags = static_cast<std::uint16_t>(ZipLittleEndian(fixed + 8, 2));
  record->method = static_cast<std::uint16_t>(ZipLittleEndian(fixed + 10, 2));
  record->dosDate = static_cast<std::uint32_t>(ZipLittleEndian(fixed + 12, 4));
  record->crc = static_cast<std::uint32_t>(ZipLittleEndian(fixed + 16, 4));
  record->compressedSize = ZipLittleEndian(fixed + 20, 4);
  record->uncompressedSize = ZipLittleEndian(fixed + 24, 4);
  record->externalAttributes = static_cast<std::uint32_t>(ZipLittleEndian(fixed + 38, 4));
  record->localHeaderOffset = ZipLittleEndian(fixed + 42, 4);
  ApplyZip64Block(std::string_view(variable).substr(nameLength), record);
  variable.resize(nameLength);
  record->name = std::move(variable);
  record->size = size;
  return true;
}

std::optional<ZipDirectory> ReadZipDirectory(ZipArchiveFile& file) {
  const std::uint64_t fileSize = file.Size();
  std::string tail(static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kZipTailSize)), '\0');
  if (!file.ReadAt(fileSize - tail.size(), tail.data(), static_cast<std::uint32_t>(tail.size()))) {
    return std::nullopt;
  }
  const std::optional<ZipEndRecord> end = FindZipEndRecord(tail, fileSize);
  if (!end) return std::nullopt;
  ZipDirectory directory;
  directory.start = end->directoryStart;
  directory.end = end->directoryStart + end->directorySize;
  directory.prefixSize = end->prefixSize;

  std::uint64_t records = 0;
  ZipCentralRecord record;
  for (std::uint64_t at = directory.start; at != directory.end; at += record.size) {
    if (!ReadZipCentralRecord(file, directory, at, &record) ||
        ++records > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
      return std::nullopt;
    }
  }
  if (end->zip64 ? records != end->entries : (records & 0xFFFF) != end->entries) {
    return std::nullopt;
  }
  directory.count = static_cast<std::int32_t>(records);
  return directory;
}

}  // namespace tarvo
