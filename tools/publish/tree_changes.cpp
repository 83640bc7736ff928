#include "publish/tree_changes.h"

#include <array>
#include <fstream>
#include <set>
#include <stdexcept>

#include "install/removal_list.h"
#include "publish/item_names.h"
#include "publish/progress.h"

namespace tarvo::publish {

namespace {

std::ifstream OpenForReading(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return in;
}

// True when both files hold the same bytes; they are known to have the same size.
bool SameContents(const TreeNode& a, const TreeNode& b, Progress& progress) {
  std::ifstream left = OpenForReading(a.path);
  std::ifstream right = OpenForReading(b.path);
  std::array<char, 65536> leftBuffer;
  std::array<char, 65536> rightBuffer;
  for (;;) {
    left.read(leftBuffer.data(), leftBuffer.size());
    right.read(rightBuffer.data(), rightBuffer.size());
    const std::streamsize count = left.gcount();
    if (left.bad() || right.bad()) throw std::runtime_error("cannot read " + a.path.string());
    if (count != right.gcount()) return false;
    progress.Advance(static_cast<std::uint64_t>(count), false);
    if (!std::equal(leftBuffer.begin(), leftBuffer.begin() + count, rightBuffer.begin())) {
      return false;
    }
    if (count == 0 || left.eof()) return right.peek() == std::char_traits<char>::eof();
  }
}

const char* KindName(NodeKind kind) { return kind == NodeKind::kFile ? "a file" : "a folder"; }

}  // namespace

TreeChanges CompareTrees(const InstallationTree& previous, const InstallationTree& next,
                         std::ostream& progressOut) {
  TreeChanges changes;
  for (const std::string& pair : next.collisions) {
    changes.problems.push_back("the new tree holds " + pair +
                               ", names that Windows cannot tell apart");
  }

  std::uint64_t filesToCompare = 0;
  std::uint64_t bytesToCompare = 0;
  for (const auto& [key, node] : next.nodes) {
    const auto old = previous.nodes.find(key);
    if (node.kind == NodeKind::kFile && old != previous.nodes.end() &&
        old->second.kind == NodeKind::kFile && old->second.size == node.size) {
      ++filesToCompare;
      bytesToCompare += node.size;
    }
  }
  Progress progress(progressOut, "comparing", filesToCompare, bytesToCompare);

  std::set<std::string> archivedKeys;
  std::vector<const TreeNode*> newFolders;
  for (const auto& [key, node] : next.nodes) {
    const auto old = previous.nodes.find(key);
    if (old != previous.nodes.end() && old->second.kind != node.kind) {
      changes.problems.push_back(node.name + " is " + KindName(old->second.kind) +
                                 " in the previous tree and " + KindName(node.kind) +
                                 " in the new one; an update cannot replace one by the other");
      continue;
    }
    if (node.kind == NodeKind::kDirectory) {
      if (old == previous.nodes.end()) newFolders.push_back(&node);
      continue;
    }
    if (old != previous.nodes.end()) {
      if (old->second.size == node.size) {
        const bool same = SameContents(old->second, node, progress);
        progress.Advance(0, true);
        if (same) continue;
      }
      ++changes.changed;
    } else {
      ++changes.added;
    }
    archivedKeys.insert(key);
  }

  // Innermost folders first, so that a new folder holding only new empty folders is implied by
  // them rather than listed itself.
  for (auto it = newFolders.rbegin(); it != newFolders.rend(); ++it) {
    const TreeNode* folder = *it;
    const std::string prefix = FoldName(folder->name) + "/";
    const auto inside = archivedKeys.lower_bound(prefix);
    if (inside == archivedKeys.end() || !inside->starts_with(prefix)) {
      archivedKeys.insert(FoldName(folder->name));
    }
  }
  for (const std::string& key : archivedKeys) {
    const TreeNode& node = next.nodes.at(key);
    const std::string itemName = node.kind == NodeKind::kDirectory ? node.name + "/" : node.name;
    if (auto problem = ItemNameProblem(itemName)) {
      changes.problems.push_back(itemName + " " + *problem);
    }
    changes.items.push_back(node);
  }

  for (const auto& [key, node] : previous.nodes) {
    if (node.kind == NodeKind::kFile && !next.nodes.contains(key)) {
      changes.deleted.push_back(node.name);
    }
  }
  for (auto it = previous.nodes.rbegin(); it != previous.nodes.rend(); ++it) {
    if (it->second.kind == NodeKind::kDirectory && !next.nodes.contains(it->first)) {
      changes.deletedFolders.push_back(it->second.name);
    }
  }
  if (const auto list = next.nodes.find(FoldName(kRemovalListItemName)); list != next.nodes.end()) {
    changes.problems.push_back(list->second.name +
                               " is the name under which an update carries the files it "
                               "removes; rename it");
  }
  return changes;
}

}  // namespace tarvo::publish
