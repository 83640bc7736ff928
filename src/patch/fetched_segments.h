#pragma once
// The segments that patches need and the player's files cannot give: fetched from the patches'
// segment stores into "UpdateZip\Segments\" (each as "<HashToHex(hash)>.zst", a self-contained
// frame) in the background of one start, and used by the installation at the next.

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "net/download_queue.h"
#include "patch/apply_patch.h"

namespace tarvo {

class FetchedSegments final : public SegmentCache {
 public:
  // For the installation in `programDirectory` (ending in "\").
  explicit FetchedSegments(const std::u16string& programDirectory);

  bool Find(const SegmentHash& hash, std::vector<std::uint8_t>& frame) override;
  void Discard(const SegmentHash& hash) override;

  // The installation of another archive begins: what the one before needed is forgotten.
  void BeginArchive();
  // The archive being installed needs these segments of the store at `storeUrl`.
  void Need(const std::string& storeUrl, const std::vector<NeededSegment>& missing);
  // True when the archive being installed waits for segments.
  bool awaiting() const { return !m_missing.empty(); }

  // After the installation pass: keeps only what the archive that waits for segments needs
  // (those it found here and those it lacks); when no archive waits and `findFiles` (a search
  // of files by pattern, as the installer's) finds none pending, deletes the folder's contents
  // and the folder. Kept bytes that another running launcher holds stay.
  void Tidy(const std::function<std::vector<std::u16string>(const std::u16string&)>& findFiles);

  // Starts a download of each missing segment through `downloads` (segment_fetch.h), and makes
  // the folder for them. The number of downloads started.
  std::size_t Fetch(DownloadQueue& downloads) const;

 private:
  struct Missing {
    std::string storeUrl;
    NeededSegment segment;
  };

  std::u16string Path(const SegmentHash& hash) const;

  std::u16string m_pending;  // "UpdateZip\"
  std::u16string m_folder;   // "UpdateZip\Segments\"
  std::vector<Missing> m_missing;
  std::set<SegmentHash> m_found;  // found here by the archive being installed
};

}  // namespace tarvo
