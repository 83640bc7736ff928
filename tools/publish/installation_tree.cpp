#include "publish/installation_tree.h"

#include <chrono>

#include "publish/item_names.h"

namespace tarvo::publish {

namespace fs = std::filesystem;

namespace {

std::int64_t SecondsSinceEpoch(fs::file_time_type time) {
  const auto system = std::chrono::file_clock::to_sys(time);
  return std::chrono::floor<std::chrono::seconds>(system).time_since_epoch().count();
}

}  // namespace

InstallationTree ScanInstallationTree(const fs::path& root) {
  InstallationTree tree;
  const std::string pendingFolder = FoldName(kPendingFolder);
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().lexically_relative(root).generic_string();
    if (it.depth() == 0 && FoldName(name) == pendingFolder) {
      std::error_code error;
      tree.pendingFiles = !entry.is_directory() || !fs::is_empty(entry.path(), error);
      if (entry.is_directory() && !entry.is_symlink()) it.disable_recursion_pending();
      continue;
    }

    TreeNode node;
    node.name = name;
    node.path = entry.path();
    const fs::file_status status = entry.status();  // follows links
    if (fs::is_directory(status) && !entry.is_symlink()) {
      node.kind = NodeKind::kDirectory;
    } else if (fs::is_regular_file(status)) {
      node.kind = NodeKind::kFile;
      node.size = entry.file_size();
    } else {
      tree.skipped.push_back(name + (fs::is_directory(status) ? ": a link to a folder"
                                     : entry.is_symlink()     ? ": a broken link"
                                                              : ": not a regular file"));
      continue;
    }
    node.modified = SecondsSinceEpoch(entry.last_write_time());

    const std::string key = FoldName(name);
    const auto [at, inserted] = tree.nodes.emplace(key, node);
    if (!inserted) tree.collisions.push_back(at->second.name + " and " + name);
  }
  return tree;
}

}  // namespace tarvo::publish
