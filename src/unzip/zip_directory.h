#pragma once
// The central directory of a zip archive: where it lies, how many records it holds, and what
// each says. Every offset and length read from the archive is checked against the directory and
// the file before it is used.

#include <cstdint>
#include <optional>
#include <string>

#include "unzip/zip_archive_file.h"

namespace tarvo {

// Where the central directory of an archive lies in its file, and how many records it holds.
struct ZipDirectory {
  std::uint64_t start = 0;  // of the first record
  std::uint64_t end = 0;    // just past the last record
  // Bytes in front of the archive, which every offset the archive records is shifted by.
  std::uint64_t prefixSize = 0;
  std::int32_t count = 0;
};

// One central-directory record, with the sizes and the offset its zip64 block holds in place of
// the 32-bit fields that defer to it (0xFFFFFFFF).
struct ZipCentralRecord {
  std::uint16_t versionMadeBy = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t dosDate = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint32_t externalAttributes = 0;
  std::uint64_t localHeaderOffset = 0;  // as recorded, not shifted
  std::string name;                     // the raw bytes
  std::uint64_t size = 0;               // of the whole record: the next one follows it
};

// Finds the end record of the open `file` (FindZipEndRecord) and walks the whole central
// directory, as unzip does: the records found are the archive's count. Nothing when there is no
// end record, when the records do not fill the directory exactly, or when their number does not
// agree with the end record's count: equal to a zip64 count, equal modulo 65,536 to a 16-bit
// one, which writers without zip64 wrap. Never more than the largest 32-bit signed count.
std::optional<ZipDirectory> ReadZipDirectory(ZipArchiveFile& file);

// Reads the record at `offset` into `record`. False when no record starts there, or it does not
// end by the directory's end, or it cannot be read.
bool ReadZipCentralRecord(ZipArchiveFile& file, const ZipDirectory& directory, std::uint64_t offset,
                          ZipCentralRecord* record);

}  // namespace tarvo
