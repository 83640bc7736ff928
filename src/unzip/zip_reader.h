#pragma once
// The state behind a ZipHandle, shared by reading records and extracting items.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "unzip/create_directory_chain.h"
#include "unzip/zip_archive.h"
#include "unzip/zip_archive_file.h"
#include "unzip/zip_directory.h"
#include "unzip/zip_item_stream.h"

namespace tarvo {

// Bytes of the buffer that extraction streams an item through: what one write hands the
// system, and what one read of stored data takes from the archive.
inline constexpr std::uint32_t kZipOutputBufferSize = 256 * 1024;

struct ZipReader {
  ZipReader() = default;
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;
  // Closes an entry still open for reading, then the archive and its file.
  ~ZipReader();

  // Closes the entry open for reading, if any.
  void CloseEntry();

  ZipArchiveFile file;
  ZipDirectory directory;
  // The last record ZipGetItem produced for an index of 0 or more, and where its data lies;
  // cachedIndex -1 when none.
  ZipItem cachedItem{};
  ZipItemData cachedData{};
  std::int32_t cachedIndex = -1;
  // Made by the first file extraction, kept until the archive is closed.
  std::unique_ptr<std::uint8_t[]> outputBuffer;
  std::unique_ptr<ZipItemStream> entry;
  // The current directory at open time, ending in a separator; empty when it could not be
  // had or did not fit, and then only absolute names can be extracted.
  std::u16string root;
  // The record navigation stands at, and where it starts; -1 after a failed step, when it is
  // not known.
  std::int32_t currentIndex = 0;
  std::uint64_t currentOffset = 0;
  // Items extracted while held (ZipHoldItems): each complete at `temporary`, waiting to be moved
  // over `target`; and the folders made for them.
  struct HeldItem {
    std::u16string temporary;
    std::u16string target;
  };
  bool holding = false;
  // What puts each file item on the disk before it is placed (ZipFlushItems); null: nothing.
  const CDiskFlush* flush = nullptr;
  std::vector<HeldItem> held;
  std::vector<std::u16string> heldFolders;
  // Folders found or made for earlier items; forgotten when held folders are removed.
  KnownFolders folders;
};

// Removes the held items and the folders made for them (ZipDiscardHeldItems).
void DiscardHeldItems(ZipReader& reader);

// Reads the item open in reader.entry to its end, through reader.outputBuffer (made when
// missing), handing each piece to `sink`, which returns false to stop; closes the item.
// ZIP_OK when every byte its record announces arrived and the CRC-32 matches; ZIP_ERR_PASSWORD,
// ZIP_ERR_DATA, or ZIP_ERR_WRITE when `sink` stopped it. Throws std::bad_alloc.
ZipResult DrainZipEntry(ZipReader& reader,
                        const std::function<bool(const std::uint8_t*, std::uint32_t)>& sink);

// Has `writer` make the data of the item whose stream is open in reader.entry, to `target`'s
// output file, and gives the file `item`'s times when all went well (ZipExtractItemWith).
ZipResult WriteItemData(ZipReader& reader, const ZipItem& item, ZipItemWriter& writer,
                        const std::u16string& target, COutputFile& output);

// Fills `item` with the record of item `index` (0 <= index < count) from the cache or from
// the archive, and caches it with where its data lies (cachedData). On failure `item` and the
// cache keep what they held. Returns ZIP_OK, ZIP_ERR_CORRUPT or ZIP_ERR_READ.
ZipResult ReadZipItem(ZipReader& reader, std::int32_t index, ZipItem* item);

}  // namespace tarvo
