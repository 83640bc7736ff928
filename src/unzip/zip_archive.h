#pragma once
// Reading zip archives and extracting their items: a small handle-based interface.
//
// The calling order it is built for: make the wanted extraction root the current directory;
// ZipOpenArchive; ZipGetItem(-1) for the count; for each index upwards ZipGetItem and then
// ZipExtractItem with the name from that item; ZipCloseArchive. One thread uses a handle from
// open to close. No function throws.

#include <cstdint>
#include <functional>
#include <string>

namespace tarvo {

class CDiskFlush;
class COutputFile;
class ZipStreamCheck;

struct ZipReader;
// An open archive; null stands for none, and every operation given null returns ZIP_ERR_ARGS.
using ZipHandle = ZipReader*;

// What an operation reports.
using ZipResult = std::uint32_t;
inline constexpr ZipResult ZIP_OK = 0;
// The output file cannot be created, or the name given for it cannot be used.
inline constexpr ZipResult ZIP_ERR_FILE = 0x200;
// Writing the output file failed.
inline constexpr ZipResult ZIP_ERR_WRITE = 0x400;
// The item's record cannot be read, or its local header does not match it.
inline constexpr ZipResult ZIP_ERR_CORRUPT = 0x700;
// The item's local extra field cannot be read in full.
inline constexpr ZipResult ZIP_ERR_READ = 0x800;
// The item is compressed by a method other than stored or deflated, or its name cannot be read
// or does not fit a ZipItem, or (ZipExtractItemWith) its writer can make nothing of its whole
// data: what the archive holds, not damage; trying again gives the same.
inline constexpr ZipResult ZIP_ERR_UNSUPPORTED = 0x4000;
// The check byte of an encrypted item does not match (it is read with the empty password).
inline constexpr ZipResult ZIP_ERR_PASSWORD = 0x1000;
// The machine would not have the file: no space, a file in use, no permission, a path too long
// for the system, an I/O error. Unlike the other results, it may be gone at another start.
inline constexpr ZipResult ZIP_ERR_SYSTEM = 0x2000;
// Null handle, or an index out of range.
inline constexpr ZipResult ZIP_ERR_ARGS = 0x10000;
// The item's data cannot be read or inflated to its end, or does not match its CRC-32.
inline constexpr ZipResult ZIP_ERR_DATA = 0x5000000;

// True for the results that damaged bytes of an item give (as against what an archive holds by
// design, such as an unsupported method or a name that cannot be used).
constexpr bool IsZipDamage(ZipResult result) {
  return result == ZIP_ERR_DATA || result == ZIP_ERR_CORRUPT || result == ZIP_ERR_READ;
}

inline constexpr int kZipNameSize = 260;

// An item is written to its target's name followed by this, and moved over the target once
// complete; the name is the same at every try, so a try cut short leaves nothing that the next
// one does not replace.
inline constexpr char16_t kZipTemporarySuffix[] = u".tvnew";
// Where a target that is this program's own running executable is moved so that the new one
// can take its place (Windows cannot replace a running image, but can rename it).
inline constexpr char16_t kZipAsideSuffix[] = u".tvold";

// One item of an archive, as ZipGetItem describes it. Times count 100-nanosecond intervals
// since 1601-01-01 UTC; 0 means unknown.
struct ZipItem {
  // Position in the central directory from 0; for the query with index -1, the item count.
  std::int32_t index;
  // The item's name, cleaned of drive letters, leading separators and "..\" prefixes.
  char16_t name[kZipNameSize];
  // FILE_ATTRIBUTE_READONLY, _HIDDEN, _SYSTEM, _DIRECTORY and _ARCHIVE bits only.
  std::uint32_t attributes;
  std::uint64_t accessTime;
  std::uint64_t creationTime;
  std::uint64_t modificationTime;
  // As the central directory records them, zip64 values included.
  std::uint64_t compressedSize;
  std::uint64_t uncompressedSize;
};

// Opens the archive at `path` (UTF-16, absolute or relative to the current directory) for
// reading; other processes may read it meanwhile. The current directory becomes the
// extraction root for good. Zip64 archives are read, and the item count is that of the records
// the whole central directory holds (an end record's 16-bit count may have wrapped). Returns
// null when the file cannot be opened or is not a single-disk zip archive whose central
// directory can be read to its end and agrees with its end record.
ZipHandle ZipOpenArchive(const char16_t* path) noexcept;

// True when ZipOpenArchive would open the file at `path` and every item of it that the reader
// can read (not ZIP_ERR_UNSUPPORTED, not encrypted) is whole: its record and local header read
// and agree, and its data gives the recorded size and CRC-32. The check a download must pass to
// be stored, so that what is stored is what the installer can read. `followed`, when given,
// holds what a check of the archive's bytes as they went by found: the items it saw whole with
// the recorded size and CRC-32 are not read again, the others are read from the file.
bool ZipCheckArchive(const char16_t* path, const ZipStreamCheck* followed = nullptr) noexcept;

// Fills `item` with the record of item `index`, or with the item count (in `index`, all else
// empty) for index -1. On any failure `item` keeps what it held. Returns ZIP_OK,
// ZIP_ERR_ARGS (null handle or item, index below -1 or not below the count), ZIP_ERR_CORRUPT
// (unreadable record, local header that does not match), ZIP_ERR_UNSUPPORTED (a name that
// cannot be read or does not fit `name`, compression other than stored or deflated) or
// ZIP_ERR_READ. A name is read
// as UTF-8 when the item says so (flag bit 11) or when it is valid UTF-8, else in the system's
// OEM code page, as Windows reads archives made on Windows of other languages.
ZipResult ZipGetItem(ZipHandle handle, std::int32_t index, ZipItem* item) noexcept;

// Writes item `index` to `name`: relative to the extraction root, or absolute. A directory
// item becomes a chain of directories; a file item a file with the item's data, attributes
// and times. The data goes to name + kZipTemporarySuffix beside the target, which replaces the
// target only once the data is complete and its CRC-32 matches, taking the permission bits of
// the file it replaces (POSIX); the running program's own executable is moved aside to
// name + kZipAsideSuffix first where the system cannot replace it in place. Whatever fails
// leaves the target byte for byte as it was and no temporary file.
// An encrypted item whose data does not check fails with ZIP_ERR_PASSWORD: it was most likely
// made with another password than the empty one.
// Refused with ZIP_ERR_FILE before anything is created: names with a ".." component or a
// device name (CON, NUL, COM1...), names that with the suffix do not fit 260 code units
// anywhere, a directory at the target, a read-only target. ZIP_ERR_SYSTEM when the machine
// will not have the file (a path too long for it under this root included). Returns ZIP_OK or
// a ZIP_ERR_ code.
ZipResult ZipExtractItem(ZipHandle handle, std::int32_t index, const char16_t* name) noexcept;

// The data of one item, read in order from its first byte by code that takes it in pieces.
class ZipItemReader {
 public:
  // Reads up to `size` bytes into `buffer`, all of them unless the data ends first; `*read`
  // says how many. ZIP_OK (at the end with *read below `size`), ZIP_ERR_DATA for data that
  // cannot be read or inflated, ZIP_ERR_PASSWORD.
  virtual ZipResult Read(void* buffer, std::uint32_t size, std::uint32_t* read) = 0;

 protected:
  ~ZipItemReader() = default;
};

// Makes the contents of a file item from its data, for items whose data is not the file itself.
class ZipItemWriter {
 public:
  // Writes the file's contents to `output`, from the item's data (`item`) and whatever stands
  // at `target`, the path the file is to take (which may not exist). ZIP_OK once all is written
  // and the item's data was read to its end; any ZIP_ERR_ code otherwise.
  virtual ZipResult Write(ZipItemReader& item, const std::u16string& target,
                          COutputFile& output) = 0;

 protected:
  ~ZipItemWriter() = default;
};

// ZipExtractItem with the file's contents made by `writer` from the item's data: the same
// names, folders, checks of the target, temporary file, times, flushing, holding and placing,
// and the same results, but for the writer's. The file takes its place only when the writer
// returns ZIP_OK and the item's data was read whole and matches its CRC-32.
ZipResult ZipExtractItemWith(ZipHandle handle, std::int32_t index, const char16_t* name,
                             ZipItemWriter& writer) noexcept;

// Hands the data of item `index` to `use`, for items that the caller reads itself in pieces,
// and returns what `use` returns; ZIP_ERR_DATA or ZIP_ERR_PASSWORD when the item cannot be
// opened for reading, and ZIP_ERR_CORRUPT, ZIP_ERR_READ or ZIP_ERR_ARGS as ZipGetItem returns
// them. `use` must not throw.
ZipResult ZipReadItemWith(ZipHandle handle, std::int32_t index,
                          const std::function<ZipResult(ZipItemReader&)>& use) noexcept;

// While `hold` is set, ZipExtractItem leaves each file item, complete and checked, at its
// temporary name instead of moving it over its target (a later item of the same name takes its
// place), so that the items can be placed together, or none of them, once something else is
// known (such as whether the archive is authentic). ZIP_OK, or ZIP_ERR_ARGS for a null handle.
ZipResult ZipHoldItems(ZipHandle handle, bool hold) noexcept;

// Has every file item extracted from now on flushed through `flush` (null: none) once its data
// is complete, before it takes its target's place; a flush that fails fails the item with
// ZIP_ERR_SYSTEM or ZIP_ERR_WRITE. `flush` must outlive the handle. ZIP_OK, or ZIP_ERR_ARGS for
// a null handle.
ZipResult ZipFlushItems(ZipHandle handle, const CDiskFlush* flush) noexcept;

// Moves every held item over its target, in the order they were extracted, and forgets them.
// An item whose target the machine will not give up stops it: that item and the ones after it
// are discarded, and ZIP_ERR_SYSTEM returned; an item that cannot take its place for any other
// reason is discarded and the rest go on. ZIP_OK, ZIP_ERR_SYSTEM, or ZIP_ERR_ARGS.
ZipResult ZipPlaceHeldItems(ZipHandle handle) noexcept;

// Removes every held item, and the folders made for items while they were held when they are
// empty, and whatever stands at the temporary name of any file item of the archive (left by a
// try that was stopped): the installation is as it was before. ZIP_OK, or ZIP_ERR_ARGS for a
// null handle.
ZipResult ZipDiscardHeldItems(ZipHandle handle) noexcept;

// Reads the data of item `index` into `data`, checked against its CRC-32, without writing
// anything: for items that the caller reads itself. ZIP_OK; ZIP_ERR_FILE when the item's
// record announces more than `maxBytes`; ZIP_ERR_DATA or ZIP_ERR_PASSWORD as for extraction;
// ZIP_ERR_CORRUPT or ZIP_ERR_READ as for ZipGetItem; ZIP_ERR_ARGS; ZIP_ERR_SYSTEM when memory
// runs out. On failure `data` keeps what it held.
ZipResult ZipReadItem(ZipHandle handle, std::int32_t index, std::uint32_t maxBytes,
                      std::string* data) noexcept;

// Closes the archive and frees the handle, which is invalid afterwards; items still held are
// discarded. ZIP_OK, or ZIP_ERR_ARGS for a null handle.
ZipResult ZipCloseArchive(ZipHandle handle) noexcept;

}  // namespace tarvo
