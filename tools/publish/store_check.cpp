#include "publish/store_check.h"

#include "common/utf.h"
#include "patch/patch_item.h"
#include "publish/segment_store.h"
#include "publish/site_check.h"

namespace tarvo::publish {

namespace fs = std::filesystem;

namespace {

// Closes the archive however the reading ends.
struct OpenArchive {
  ZipHandle handle;
  ~OpenArchive() { ZipCloseArchive(handle); }
};

std::optional<PatchHeader> ReadHeader(ZipHandle archive, std::int32_t index) {
  std::optional<PatchHeader> header;
  ZipReadItemWith(archive, index, [&header](ZipItemReader& item) {
    try {
      PatchItemSource source(item);
      header = ReadPatchHeader(source);
    } catch (const std::bad_alloc&) {
      header.reset();
    }
    return ZIP_OK;
  });
  return header;
}

}  // namespace

void CheckPatches(const std::string& label, const fs::path& archive, const fs::path& site,
                  const std::optional<fs::path>& store, std::set<SegmentHash>& checked,
                  std::vector<std::string>& problems) {
  const OpenArchive opened{ZipOpenArchive(Utf8ToUtf16(archive.string()).c_str())};
  ZipItem item{};
  ZipGetItem(opened.handle, -1, &item);
  const std::int32_t count = item.index;
  for (std::int32_t i = 0; i < count; ++i) {
    if (ZipGetItem(opened.handle, i, &item) != ZIP_OK || !IsPatchItem(item.name)) continue;
    const std::string name = Utf16ToUtf8(item.name);
    const std::optional<PatchHeader> header = ReadHeader(opened.handle, i);
    if (!header) {
      problems.push_back(label + ": the patch " + name +
                         " cannot be read, so launchers never install the archive");
      continue;
    }
    const std::optional<fs::path> folder = store ? store : SiteFileForUrl(site, header->storeUrl);
    if (!folder) {
      problems.push_back(label + ": the store URL of " + name + " (" + header->storeUrl +
                         ") does not lead into the site; give --store");
      continue;
    }
    std::vector<StoreNeed> needed;
    for (const PatchSegment& segment : header->segments) {
      needed.push_back({segment.hash, segment.length});
    }
    for (const std::string& frame : MissingFromStore(*folder, needed, checked)) {
      problems.push_back(label + ": " + name + " may need " + (*folder / frame).string() +
                         ", which is missing or not that segment");
    }
  }
}

}  // namespace tarvo::publish
