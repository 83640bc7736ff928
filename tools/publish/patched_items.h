#pragma once
// Carrying large changed files as patches: each file of at least the threshold that the
// previous tree holds with other contents goes into the archive as "<name>.tvpatch" when its
// patch is smaller than the file and reuses some of it, checked by applying it to the previous
// file before anything is published; the segments it may need go to the segment store.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "publish/installation_tree.h"
#include "publish/segment_store.h"

namespace tarvo::publish {

// The names of the new tree's files that launchers would take for patches ("*.tvpatch"), each
// with why it cannot be published.
std::vector<std::string> PatchNameProblems(const std::vector<TreeNode>& items);

// The items that may go as patches: changed files (in both trees) of at least `threshold`
// bytes, but the launcher and Sys/Config.ini.
std::vector<const TreeNode*> PatchCandidates(const std::vector<TreeNode>& items,
                                             const InstallationTree& previous,
                                             std::uint64_t threshold);

struct PatchedItems {
  std::vector<TreeNode> items;     // `items` with each patched file's item replaced
  std::vector<std::string> lines;  // one per file patched, for the report
};

// Writes the patches of the candidates into `folder` (existing, the caller's to remove), checks
// each against the previous and new file, and stages the segments the store lacks. Progress
// goes to `progress`. Throws std::runtime_error naming what failed.
PatchedItems MakePatches(const std::vector<TreeNode>& items, const InstallationTree& previous,
                         std::uint64_t threshold, const std::string& storeUrl, SegmentStore& store,
                         const std::filesystem::path& folder, std::ostream& progress);

}  // namespace tarvo::publish
