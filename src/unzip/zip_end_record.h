#pragma once
// Finding a zip archive's end record in the last bytes of a file, and what it says about the
// central directory, without any reader of the archive.

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvo {

// The end record without its comment.
inline constexpr std::size_t kZipEndRecordSize = 22;
// How many bytes at the end of a file can hold the end record (with a comment of up to 65535
// bytes) and, in front of it, the zip64 locator (20 bytes) and zip64 end record (56 bytes).
inline constexpr std::size_t kZipTailSize = 65535 + kZipEndRecordSize + 20 + 56;

// The end record's signature, "PK\5\6", and the central directory's, "PK\1\2".
inline constexpr std::string_view kZipEndSignature{"PK\x05\x06", 4};
inline constexpr std::string_view kZipDirectorySignature{"PK\x01\x02", 4};

struct ZipEndRecord {
  std::uint64_t position = 0;       // where the end record starts in the file
  std::uint16_t commentLength = 0;  // as the record gives it
  std::uint64_t entries = 0;
  std::uint64_t directoryStart = 0;  // where the central directory starts in the file
  std::uint64_t directorySize = 0;
  // Bytes in front of the archive: directoryStart less the directory's offset as recorded, and
  // so what every offset the archive records is to be shifted by.
  std::uint64_t prefixSize = 0;
  // Whether the values come from a zip64 end record. Its count is exact; the end record's own
  // is 16 bits wide, and writers without zip64 keep only the low bits of a larger one.
  bool zip64 = false;
};

// Finds the end record as readers of zip files do: the signature nearest the end of the file
// whose record fits in it. `tail` holds the last bytes of a file of `fileSize` bytes: all of it,
// or at least its last kZipTailSize bytes. Nothing when there is no such record, when it is not
// the record of a single-disk archive (both disk numbers 0, both entry counts equal), or when
// the central directory it describes does not fit in front of it. Zip64 values are taken from
// the zip64 end record wherever its locator stands right in front of the end record: the end
// record may defer to it (0xFFFF, 0xFFFFFFFF) or not (Info-ZIP writes both in full for an
// archive made from standard input); a record that defers without one is refused. Bytes in
// front of the archive are allowed:
// the directory is placed to end where the end record (or the zip64 end record) starts, as
// readers place it; its offset field only has to leave room for that.
std::optional<ZipEndRecord> FindZipEndRecord(std::string_view tail, std::uint64_t fileSize);

}  // namespace tarvo
