#include "publish/patched_items.h"

#include <algorithm>

#include "common/utf.h"
#include "patch/patch_item.h"
#include "publish/item_names.h"
#include "publish/patch_writer.h"
#include "publish/progress.h"
#include "publish/recorded_version.h"

namespace tarvo::publish {

namespace fs = std::filesystem;

std::vector<std::string> PatchNameProblems(const std::vector<TreeNode>& items) {
  std::vector<std::string> problems;
  for (const TreeNode& item : items) {
    if (item.kind == NodeKind::kFile && IsPatchItem(Utf8ToUtf16(item.name))) {
      problems.push_back(item.name + ": launchers take a file named *" +
                         Utf16ToUtf8(kPatchItemSuffix) + " for a patch");
    }
  }
  return problems;
}

std::vector<const TreeNode*> PatchCandidates(const std::vector<TreeNode>& items,
                                             const InstallationTree& previous,
                                             std::uint64_t threshold) {
  std::vector<const TreeNode*> candidates;
  for (const TreeNode& item : items) {
    const std::string key = FoldName(item.name);
    const auto old = previous.nodes.find(key);
    // The launcher stays whole, so that one that knows no patches still updates itself.
    if (item.kind == NodeKind::kFile && item.size >= threshold && old != previous.nodes.end() &&
        old->second.kind == NodeKind::kFile && key != FoldName(kLauncherName) &&
        key != FoldName(kConfigName)) {
      candidates.push_back(&item);
    }
  }
  return candidates;
}

PatchedItems MakePatches(const std::vector<TreeNode>& items, const InstallationTree& previous,
                         std::uint64_t threshold, const std::string& storeUrl, SegmentStore& store,
                         const fs::path& folder, std::ostream& progressOut) {
  const std::vector<const TreeNode*> candidates = PatchCandidates(items, previous, threshold);
  std::uint64_t bytes = 0;
  for (const TreeNode* item : candidates) bytes += item->size;
  Progress patching(progressOut, "patching", candidates.size(), bytes);
  Progress verifying(progressOut, "verifying patches", candidates.size(), bytes);

  PatchedItems patched{items, {}};
  for (const TreeNode* item : candidates) {
    const fs::path& before = previous.nodes.at(FoldName(item->name)).path;
    const fs::path patchPath = folder / (std::to_string(patched.lines.size()) + ".tvpatch");
    const std::size_t mark = store.Mark();
    const WrittenPatch written =
        WritePatch(before, item->path, storeUrl, store, patchPath,
                   [&](std::uint64_t done) { patching.Advance(done, false); });
    patching.Advance(0, true);
    // Worth it only when smaller than the file, and made of the previous one in part.
    if (written.size >= item->size || written.copies + written.patches == 0) {
      store.Unstage(mark);
      continue;
    }
    VerifyPatch(patchPath, before, item->path,
                [&](std::uint64_t done) { verifying.Advance(done, false); });
    verifying.Advance(0, true);

    auto at = std::find_if(patched.items.begin(), patched.items.end(),
                           [&](const TreeNode& node) { return node.name == item->name; });
    at->name += Utf16ToUtf8(kPatchItemSuffix);
    at->path = patchPath;
    at->size = written.size;
    at->stored = true;  // its frames are compressed already
    patched.lines.push_back(item->name + ": a patch of " + std::to_string(written.size) +
                            " bytes for " + std::to_string(item->size) + " (" +
                            std::to_string(written.copies) + " segment(s) copied, " +
                            std::to_string(written.patches) + " patched, " +
                            std::to_string(written.wholes) + " whole)");
  }
  return patched;
}

}  // namespace tarvo::publish
