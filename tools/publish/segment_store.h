#pragma once
// The segment store on the update host: a folder of self-contained zstd frames, one per segment
// that a published patch may need, named "<HashToHex(hash of the segment)>.zst". A frame is
// written once and never rewritten: the same name always holds the same segment.

#include <cstdint>
#include <filesystem>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "patch/segment_hash.h"

namespace tarvo::publish {

// The file name of a segment's frame in the store.
std::string StoreFrameName(const SegmentHash& hash);

class SegmentStore {
 public:
  // The store in `folder`, which is made when missing once a frame is staged. New frames wait
  // in a hidden folder inside it until Commit.
  explicit SegmentStore(std::filesystem::path folder);
  SegmentStore(const SegmentStore&) = delete;
  SegmentStore& operator=(const SegmentStore&) = delete;
  // Removes the frames staged and not committed, and the store's folder when it made it and
  // nothing was committed to it.
  ~SegmentStore();

  const std::filesystem::path& folder() const { return m_folder; }

  // True when the store holds, or has staged, the frame of the segment with `hash`.
  bool Has(const SegmentHash& hash) const;
  // Stages `frame`, the whole frame of the segment with `hash`. Throws std::runtime_error.
  void Stage(const SegmentHash& hash, std::span<const std::uint8_t> frame);
  // Moves the staged frames into the store, beside the ones it has; a name taken meanwhile
  // keeps its frame. Throws std::filesystem::filesystem_error.
  void Commit();
  std::uint64_t stagedBytes() const { return m_stagedBytes; }

  // How many frames are staged, and back to that many: the frames of a patch not published.
  std::size_t Mark() const { return m_order.size(); }
  void Unstage(std::size_t mark);

 private:
  std::filesystem::path m_folder;
  bool m_existed;
  std::filesystem::path m_staging;
  std::set<SegmentHash> m_staged;
  std::vector<std::pair<SegmentHash, std::uint64_t>> m_order;  // with their sizes
  std::uint64_t m_stagedBytes = 0;
};

// What the store in `folder` lacks of `needed`: the name of each frame that is missing, or that
// does not decode into the segment its name says (of the length given). Each frame is read
// once per run: `checked` remembers those found right.
struct StoreNeed {
  SegmentHash hash{};
  std::uint32_t length = 0;
};
std::vector<std::string> MissingFromStore(const std::filesystem::path& folder,
                                          const std::vector<StoreNeed>& needed,
                                          std::set<SegmentHash>& checked);

}  // namespace tarvo::publish
