#include "publish/publish_command.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "install/removal_list.h"
#include "publish/archive_url.h"
#include "publish/file_bytes.h"
#include "publish/guard_rails/guard_rails.h"
#include "publish/installation_tree.h"
#include "publish/item_names.h"
#include "publish/patched_items.h"
#include "publish/recorded_version.h"
#include "publish/signing.h"
#include "publish/site_check.h"
#include "publish/tree_changes.h"
#include "publish/update_archive.h"
#include "publish/version_page.h"

namespace tarvo::publish {

namespace fs = std::filesystem;

namespace {

// Removed files and folders listed one by one before the rest is only counted.
constexpr std::size_t kListedDeletions = 20;

// Input that is not published; the text says why.
class Refusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file written beside its place under a hidden name, moved there by Commit, and removed when
// it was not.
class StagedFile {
 public:
  explicit StagedFile(fs::path target) : target_(std::move(target)) {
    staged_ = target_;
    staged_.replace_filename(".").concat(target_.filename().string()).concat(".partial");
  }
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile() {
    std::error_code ignored;
    if (!committed_) fs::remove(staged_, ignored);
  }
  const fs::path& path() const { return staged_; }
  void Commit() {
    fs::rename(staged_, target_);
    committed_ = true;
  }

 private:
  fs::path target_;
  fs::path staged_;
  bool committed_ = false;
};

// A folder for work files beside the output, removed with what it holds when the object goes.
class WorkFolder {
 public:
  explicit WorkFolder(fs::path path) : path_(std::move(path)) {
    std::error_code ignored;
    fs::remove_all(path_, ignored);  // what a killed run left
    fs::create_directory(path_);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  ~WorkFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void RequireFolder(const fs::path& folder, const std::string& what) {
  if (!fs::is_directory(folder)) {
    throw Refusal(what + " " + folder.string() + " is not an existing folder");
  }
}

// The version list of the page, refused when the launcher would not read it as it reads.
VersionList UsableVersionList(const std::string& page, const fs::path& pagePath) {
  VersionList list = ParseVersionList(page);
  if (list.state == ListState::kMissing) {
    throw Refusal(pagePath.string() + " has no " + std::string(kListOpenTag) + " ... " +
                  std::string(kListCloseTag) +
                  " element; add one where the list belongs, or move the page away to have a "
                  "new one made");
  }
  if (list.state == ListState::kClosedBeforeOpened) {
    throw Refusal(pagePath.string() + ": the first " + std::string(kListCloseTag) +
                  " comes before the first " + std::string(kListOpenTag) +
                  ", so the launcher sees an empty list");
  }
  if (!list.faults.empty()) {
    std::string message = pagePath.string() + ": the version list is not well-formed:";
    for (const std::string& fault : list.faults) message += "\n  " + fault;
    throw Refusal(message);
  }
  return list;
}

// Refuses versions that players with the previous tree would never download. Returns the
// versions the previous tree records, when it has a configuration.
std::optional<VersionKey> CheckRecordedVersion(const InstallationTree& previous,
                                               const PublishOptions& options, std::ostream& err) {
  const auto config = previous.nodes.find(FoldName(kConfigName));
  if (config == previous.nodes.end() || config->second.kind != NodeKind::kFile) {
    err << "tarvo-publish: note: the previous tree has no " << kConfigName
        << ", so the versions were not checked against it\n";
    return std::nullopt;
  }
  const VersionKey recorded = ReadRecordedVersion(config->second.path);
  if (recorded.first != options.first) {
    throw Refusal("the previous tree records FirstVersion " + std::to_string(recorded.first) +
                  " in " + config->second.name +
                  ", and players' launchers only download "
                  "updates of the FirstVersion they have, not " +
                  std::to_string(options.first));
  }
  if (options.second <= recorded.second) {
    throw Refusal("the previous tree records SecondVersion " + std::to_string(recorded.second) +
                  " in " + config->second.name +
                  ", and players' launchers only download "
                  "updates with a greater one than that, not " +
                  std::to_string(options.second));
  }
  return recorded;
}

// Refuses the update for every one of `reasons`, if there are any.
void RefuseIfAny(const std::vector<std::string>& reasons) {
  if (reasons.empty()) return;
  std::string message = "this update cannot be published:";
  for (const std::string& reason : reasons) message += "\n  " + reason;
  throw Refusal(message);
}

void Warn(std::ostream& err, const std::string& text) {
  err << "tarvo-publish: warning: " << text << "\n";
}

// Writes the first names of `names` one per line, indented, and counts the rest.
void ListNames(std::ostream& out, const std::vector<std::string>& names) {
  const std::size_t listed = std::min(names.size(), kListedDeletions);
  for (std::size_t i = 0; i < listed; ++i) out << "  " << names[i] << "\n";
  if (listed < names.size()) out << "  ... and " << names.size() - listed << " more\n";
}

// What the update removes from players' installations, and what of the previous tree they
// keep all the same.
struct Removals {
  std::vector<std::string> files;
  std::vector<std::string> folders;  // inner folders first
  std::vector<std::string> kept;     // each with why

  bool empty() const { return files.empty() && folders.empty(); }
};

Removals PlanRemovals(const TreeChanges& changes) {
  Removals removals;
  for (const std::string& file : changes.deleted) {
    if (FoldName(file) == FoldName(kLauncherName)) {
      removals.kept.push_back(file + " (a launcher never removes itself)");
    } else if (!RemovableName(file)) {
      removals.kept.push_back(file + " (launchers never remove it)");
    } else {
      removals.files.push_back(file);
    }
  }
  for (const std::string& folder : changes.deletedFolders) {
    if (RemovableName(folder)) removals.folders.push_back(folder);
  }
  return removals;
}

void WarnAboutChanges(const InstallationTree& next, const TreeChanges& changes,
                      const Removals& removals, const PublishOptions& options, std::ostream& err) {
  for (const std::string& skipped : next.skipped) Warn(err, "left out " + skipped);
  if (next.pendingFiles) {
    Warn(err, "left out what " + std::string(kPendingFolder) +
                  " holds: pending downloads are never part of an update");
  }
  if (!removals.kept.empty()) {
    Warn(err, std::to_string(removals.kept.size()) +
                  " file(s) of the previous tree are not in the new one, and players keep them:");
    ListNames(err, removals.kept);
  }
  for (const TreeNode& item : changes.items) {
    const std::string key = FoldName(item.name);
    if (key == FoldName(kConfigName)) {
      Warn(err, item.name +
                    " is in the update: it replaces each player's copy, other settings "
                    "included, and the launcher then records versions " +
                    std::to_string(options.first) + " and " + std::to_string(options.second) +
                    " in it");
    } else if (key == FoldName(kLauncherName)) {
      Warn(err, item.name +
                    " is in the update: players' launchers replace themselves with it and run "
                    "it from their next start");
    }
  }
  if (changes.items.empty() && removals.empty()) {
    Warn(err,
         "nothing was added or changed: the archive holds no items, and installing it "
         "only records the versions");
  }
}

// Where the update goes on the site, and the page it is listed in.
struct SiteTarget {
  fs::path pagePath;
  bool pageExists = false;
  std::string page;
  VersionList list;
  bool replacing = false;  // the page lists these versions already
  fs::path archivePath;
  bool archiveExists = false;
};

// Refuses a site that cannot take the update: missing folders, a page without a usable list,
// an archive or entry of these versions (unless forced).
SiteTarget PrepareSiteTarget(const PublishOptions& options, const std::string& archiveName) {
  RequireFolder(options.site, "the site folder");
  const std::optional<fs::path> archives =
      options.archives ? options.archives : SiteFileForUrl(options.site, options.baseUrl);
  if (!archives) throw Refusal("the base URL's path does not lead into the site folder");
  RequireFolder(*archives, options.archives ? "the archive folder"
                                            : "the archive folder (the site folder followed by "
                                              "the base URL's path; create it, or give "
                                              "--archives)");

  SiteTarget target;
  target.pagePath = options.site / kPageName;
  target.pageExists = fs::exists(fs::symlink_status(target.pagePath));
  if (target.pageExists && !fs::is_regular_file(target.pagePath)) {
    throw Refusal(target.pagePath.string() + " is not a file");
  }
  target.page = target.pageExists ? ReadFileBytes(target.pagePath) : NewVersionPage();
  target.list = UsableVersionList(target.page, target.pagePath);
  const VersionKey key{options.first, options.second};
  const auto same = std::find_if(target.list.entries.begin(), target.list.entries.end(),
                                 [&](const VersionEntry& e) { return e.key == key; });
  target.replacing = same != target.list.entries.end();
  if (target.replacing && !options.force) {
    throw Refusal(target.pagePath.string() + " already has an entry for these versions (line " +
                  std::to_string(same->line) + "); give --force to replace it");
  }

  target.archivePath = *archives / archiveName;
  target.archiveExists = fs::exists(fs::symlink_status(target.archivePath));
  if (target.archiveExists && !fs::is_regular_file(target.archivePath)) {
    throw Refusal(target.archivePath.string() + " exists and is not a file");
  }
  if (target.archiveExists && !options.force) {
    throw Refusal(target.archivePath.string() + " already exists; give --force to replace it");
  }
  return target;
}

int Publish(const PublishOptions& options, std::ostream& out, std::ostream& err) {
  const std::string digits = FormatVersionDigits({options.first, options.second});
  const std::string archiveName = digits + ".zip";
  const std::string entryText = digits + JoinArchiveUrl(options.baseUrl, archiveName);

  // Read first, so that a key that will not do refuses the update before any work.
  std::optional<SecretKey> signKey;
  if (options.signKey) {
    try {
      signKey = ReadSecretKeyFile(*options.signKey);
    } catch (const std::runtime_error& unreadable) {
      throw Refusal(unreadable.what());
    }
  }
  RequireFolder(options.previous, "the previous tree");
  RequireFolder(options.next, "the new tree");
  if (fs::equivalent(options.previous, options.next)) {
    throw Refusal("the previous and the new tree are the same folder");
  }
  const SiteTarget site = PrepareSiteTarget(options, archiveName);
  const fs::path& pagePath = site.pagePath;
  const fs::path& archivePath = site.archivePath;

  const InstallationTree previous = ScanInstallationTree(options.previous);
  const InstallationTree next = ScanInstallationTree(options.next);
  const std::optional<VersionKey> base = CheckRecordedVersion(previous, options, err);
  TreeChanges changes = CompareTrees(previous, next, err);
  for (std::string& problem : PatchNameProblems(changes.items)) {
    changes.problems.push_back(std::move(problem));
  }
  RefuseIfAny(changes.problems);
  const Removals removals = PlanRemovals(changes);
  WarnAboutChanges(next, changes, removals, options, err);
  const GuardRailFindings findings =
      CheckPublishGuardRails(options, previous, changes, site.list, base, signKey);
  for (const std::string& warning : findings.warnings) Warn(err, warning);
  RefuseIfAny(findings.refusals);

  const std::string newPage =
      site.replacing
          ? ReplaceVersionEntries(site.page, site.list, {options.first, options.second}, entryText)
          : AddVersionEntry(site.page, site.list, entryText);
  const std::string entry = std::string(kEntryOpenTag) + entryText + std::string(kEntryCloseTag);
  const std::size_t folders = changes.items.size() - changes.added - changes.changed;
  const std::string summary = std::to_string(changes.items.size()) +
                              " item(s): " + std::to_string(changes.added) + " file(s) added, " +
                              std::to_string(changes.changed) + " changed, " +
                              std::to_string(folders) + " new empty folder(s); removes " +
                              std::to_string(removals.files.size()) + " file(s) and " +
                              std::to_string(removals.folders.size()) + " folder(s)";
  // Where the segments of patches go, and where launchers fetch them.
  const fs::path storeFolder =
      options.store ? *options.store : archivePath.parent_path() / "segments";
  const std::string storeUrl =
      options.storeUrl ? *options.storeUrl : JoinArchiveUrl(options.baseUrl, "segments/");
  const std::size_t patchCandidates =
      options.patchThreshold
          ? PatchCandidates(changes.items, previous, *options.patchThreshold).size()
          : 0;
  if (options.dryRun) {
    out << "would write " << archivePath.string() << (signKey ? ", signed," : "") << " with "
        << summary << "\n";
    if (patchCandidates != 0) {
      out << "it would try a patch for " << patchCandidates << " changed file(s), with "
          << storeFolder.string() << " as their segment store, served at " << storeUrl << "\n";
    }
    for (const TreeNode& item : changes.items) {
      out << "  " << item.name << (item.kind == NodeKind::kDirectory ? "/" : "") << "\n";
    }
    if (!removals.empty()) out << "it would remove from players' installations:\n";
    for (const std::string& file : removals.files) out << "  " << file << "\n";
    for (const std::string& folder : removals.folders) out << "  " << folder << "/\n";
    out << "would " << (site.replacing ? "replace in " : "add to ") << pagePath.string() << ": "
        << entry << "\n";
    return 0;
  }

  StagedFile stagedArchive(archivePath);
  std::vector<TreeNode> items = changes.items;
  // Patches are made and checked before the archive is written, and their segments reach the
  // store before the page names the archive.
  std::optional<SegmentStore> store;
  std::optional<WorkFolder> patchFolder;
  std::vector<std::string> patchLines;
  if (patchCandidates != 0) {
    store.emplace(storeFolder);
    patchFolder.emplace(archivePath.parent_path() / ("." + archiveName + ".patches"));
    PatchedItems patched = MakePatches(items, previous, *options.patchThreshold, storeUrl, *store,
                                       patchFolder->path(), err);
    items = std::move(patched.items);
    patchLines = std::move(patched.lines);
  }
  // The removal list travels as the archive's last item, read from a file beside the archive
  // that goes once the archive is written.
  StagedFile removalList(archivePath.string() + ".removals");
  if (!removals.empty()) {
    const std::string list = FormatRemovalList(removals.files, removals.folders);
    WriteFileBytes(removalList.path(), list);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    items.push_back({std::string(kRemovalListItemName), NodeKind::kFile, removalList.path(),
                     list.size(), std::chrono::duration_cast<std::chrono::seconds>(now).count()});
  }
  WriteUpdateArchive(stagedArchive.path(), items, err);
  if (signKey) SignArchiveFile(stagedArchive.path(), digits, *signKey, err);
  // Written where the page really is, so that a link to it stays a link.
  const fs::path pageTarget = site.pageExists ? fs::canonical(pagePath) : pagePath;
  StagedFile stagedPage(pageTarget);
  WriteFileBytes(stagedPage.path(), newPage);
  if (site.pageExists) fs::permissions(stagedPage.path(), fs::status(pageTarget).permissions());

  const std::uintmax_t archiveBytes = fs::file_size(stagedArchive.path());
  const std::uint64_t storeBytes = store ? store->stagedBytes() : 0;
  if (store) store->Commit();
  stagedArchive.Commit();
  try {
    stagedPage.Commit();
  } catch (...) {
    // A new archive that no entry names would only confuse the next run.
    std::error_code ignored;
    if (!site.archiveExists) fs::remove(archivePath, ignored);
    throw;
  }
  for (const std::string& warning : NotePublished(options, base, {archivePath, pagePath})) {
    Warn(err, warning);
  }
  out << "wrote " << archivePath.string() << " (" << archiveBytes << " bytes"
      << (signKey ? ", signed" : "") << ") with " << summary << "\n";
  out << (site.replacing    ? "replaced in "
          : site.pageExists ? "added to "
                            : "created ")
      << pagePath.string() << ": " << entry << "\n";
  for (const std::string& line : patchLines) out << "patched " << line << "\n";
  if (!patchLines.empty()) {
    out << "added " << storeBytes << " bytes of segments to the store " << storeFolder.string()
        << ", served at " << storeUrl << "\n";
  }
  if (!removals.empty()) {
    std::vector<std::string> names = removals.files;
    for (const std::string& folder : removals.folders) names.push_back(folder + "/");
    out << "players' launchers remove:\n";
    ListNames(out, names);
  }
  return 0;
}

}  // namespace

int RunPublish(const PublishOptions& options, std::ostream& out, std::ostream& err) {
  try {
    return Publish(options, out, err);
  } catch (const Refusal& refusal) {
    err << "tarvo-publish: " << refusal.what() << "\n";
  } catch (const std::exception& failure) {
    err << "tarvo-publish: failed: " << failure.what() << "\n";
  }
  return 1;
}

}  // namespace tarvo::publish
