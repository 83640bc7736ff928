#pragma once
// What an update has to carry: the files added or changed between the previous and the new
// tree of an installation.

#include <ostream>
#include <string>
#include <vector>

#include "publish/installation_tree.h"

namespace tarvo::publish {

struct TreeChanges {
  // What the archive holds, in folded-name order: every file of the new tree that the previous
  // tree lacks or holds with other contents, and every new folder that no such file lies in
  // (an empty folder would otherwise not reach players).
  std::vector<TreeNode> items;
  std::size_t added = 0;
  std::size_t changed = 0;
  // Files of the previous tree that the new one lacks, in folded-name order.
  std::vector<std::string> deleted;
  // Folders of the previous tree that the new one lacks, inner folders before the ones holding
  // them.
  std::vector<std::string> deletedFolders;
  // Why this update cannot be published: a file that became a folder or the other way round
  // (an archive cannot replace one by the other), names Windows cannot hold, names the new tree
  // holds twice in different letter case, a file of the name the removal list travels under.
  std::vector<std::string> problems;
};

// Compares the trees by name as Windows matches names (letter case ignored) and by contents.
// Writes progress lines to `progress` for large trees. Throws std::filesystem::filesystem_error
// or std::runtime_error when a file cannot be read.
TreeChanges CompareTrees(const InstallationTree& previous, const InstallationTree& next,
                         std::ostream& progress);

}  // namespace tarvo::publish
