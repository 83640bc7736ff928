#pragma once
// Patches carried by an update archive: the item "<name>.tvpatch" holds a patch (patch_format.h)
// that rebuilds the installed file <name> instead of carrying it whole. It is installed as any
// item is (beside its target, checked, flushed, then moved over it), so an archive's signature,
// its all-or-nothing installation and its recording cover it as they cover the rest.

#include <string_view>

#include "patch/fetched_segments.h"
#include "unzip/zip_archive.h"

namespace tarvo {

inline constexpr std::u16string_view kPatchItemSuffix = u".tvpatch";

// True when an item of this (cleaned) name is a patch: "<name>.tvpatch", the suffix in any case.
bool IsPatchItem(std::u16string_view itemName);

// A patch as the data of its item (ZipReadItemWith, ZipItemWriter) gives it.
class PatchItemSource final : public PatchSource {
 public:
  explicit PatchItemSource(ZipItemReader& item) : m_item(item) {}
  bool Read(void* buffer, std::size_t size) override;

 private:
  ZipItemReader& m_item;
};

// True when any of the `count` items of `archive` is a patch.
bool HasPatchItems(ZipHandle archive, std::int32_t count);

// The patches of one archive as its installation meets them.
class ArchivePatches {
 public:
  // What the archive needs from the store goes to `fetched`, which forgets what the archive
  // installed before it needed.
  explicit ArchivePatches(FetchedSegments& fetched);

  // Rebuilds the file that patch item `index` of `archive` (described by `item`) names from the
  // file installed there, as ZipExtractItemWith does, and returns what it returns: ZIP_OK also
  // when the file is the one the patch makes already, ZIP_ERR_DATA for a damaged or hostile
  // patch, ZIP_ERR_FILE for a patch of Sys\Config.ini. When segments are missing, nothing is
  // written, they are handed to `fetched`, and the result is ZIP_OK with awaiting() set; from
  // then on, the archive's patches are only looked through to learn what they lack as well.
  ZipResult Install(ZipHandle archive, std::int32_t index, const ZipItem& item);

  // True once a patch of the archive waits for segments: the archive is to be installed again
  // at another start, once they are fetched.
  bool awaiting() const { return m_fetched.awaiting(); }

 private:
  FetchedSegments& m_fetched;
};

}  // namespace tarvo
