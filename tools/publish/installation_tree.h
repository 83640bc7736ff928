#pragma once
// What an installation folder holds, listed as the archive and Windows see it.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tarvo::publish {

// Pending archives live in this top-level folder of an installation; they are never part of
// an update.
inline constexpr std::string_view kPendingFolder = "UpdateZip";
// The launcher's own executable, at the top of an installation: an update that carries it
// changes every player's launcher.
inline constexpr std::string_view kLauncherName = "Tarvo.exe";

enum class NodeKind { kFile, kDirectory };

struct TreeNode {
  std::string name;  // relative, "/" between components, spelt as on disk
  NodeKind kind = NodeKind::kFile;
  std::filesystem::path path;  // where it is on disk
  std::uintmax_t size = 0;     // files only
  std::int64_t modified = 0;   // last modification, seconds since 1970-01-01 00:00 UTC
  bool stored = false;         // archived without compression (a patch: compressed already)
};

struct InstallationTree {
  // Every file and folder, keyed by its folded name (FoldName), so in the order Windows would
  // list them and matched as Windows matches them.
  std::map<std::string, TreeNode> nodes;
  // Entries that are neither files nor folders (links to folders, broken links, devices, ...):
  // each text names one and says why it is left out.
  std::vector<std::string> skipped;
  // Pairs of names that differ only in letter case, which cannot both exist on Windows.
  std::vector<std::string> collisions;
  bool pendingFiles = false;  // the pending-archive folder holds anything
};

// Lists everything under `root`, leaving out the top-level pending-archive folder. A link to a
// file counts as that file; links to folders are not followed. Throws
// std::filesystem::filesystem_error when a folder cannot be read.
InstallationTree ScanInstallationTree(const std::filesystem::path& root);

}  // namespace tarvo::publish
