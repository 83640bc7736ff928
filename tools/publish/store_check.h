#pragma once
// Checking the patches of a published archive: can launchers read them, and does their segment
// store hold, with the right contents, every segment that a player's file may fail to give?

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "patch/segment_hash.h"

namespace tarvo::publish {

// Adds to `problems` one text, beginning with `label`, for each patch in the archive at
// `archive` that launchers cannot read and for each segment its store lacks or holds wrong.
// The store is `store`, or where the patch's store URL leads in the site folder `site`.
// `checked` remembers the frames found right, so that each is read once in a run.
void CheckPatches(const std::string& label, const std::filesystem::path& archive,
                  const std::filesystem::path& site,
                  const std::optional<std::filesystem::path>& store, std::set<SegmentHash>& checked,
                  std::vector<std::string>& problems);

}  // namespace tarvo::publish
