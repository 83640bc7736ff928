#include "publish/guard_rails/guard_rails.h"

#include "publish/guard_rails/served_files.h"
#include "publish/inspect/launcher_build.h"
#include "publish/item_names.h"
#include "publish/site_check.h"
#include "publish/signing.h"

namespace tarvo::publish {

namespace fs = std::filesystem;

namespace {

std::string KeyText(const PublicKey& key) {
  return EncodeBase64(key.bytes.data(), key.bytes.size());
}

// A host on the machine itself, as development builds use: "127.0.0.1:8619", "localhost".
bool IsLocalHost(std::string host) {
  if (host.starts_with("[")) {
    host.erase(host.find(']') + 1);
  } else if (const std::size_t colon = host.rfind(':'); colon != std::string::npos) {
    host.erase(colon);
  }
  return host == "localhost" || host.starts_with("127.") || host == "[::1]";
}

// The build of a launcher in a tree; nothing, with a warning, when it cannot be told.
std::optional<LauncherBuild> TreeLauncher(const std::optional<fs::path>& launcher,
                                          const std::string& tree, GuardRailFindings& findings) {
  if (!launcher) return std::nullopt;
  try {
    if (auto build = ReadLauncherBuild(*launcher)) return build;
    findings.warnings.push_back(launcher->string() + " in the " + tree +
                                " tree is no Tarvo launcher that tarvo-publish can read, so what "
                                "it was built for was not checked");
  } catch (const std::exception& failure) {
    findings.warnings.push_back(failure.what());
  }
  return std::nullopt;
}

// The last listed archive of the update's line before it that carries a signature.
std::optional<std::string> SignedEarlierEntry(const GuardRailInput& input) {
  for (auto it = input.list->entries.rbegin(); it != input.list->entries.rend(); ++it) {
    const VersionEntry& entry = *it;
    if (entry.key.first != input.update.first || !(entry.key < input.update)) continue;
    const std::optional<fs::path> archive = input.listedArchive(entry);
    if (archive && ArchiveCarriesSignature(*archive)) {
      return "line " + std::to_string(entry.line) + ", entry " + FormatVersionDigits(entry.key);
    }
  }
  return std::nullopt;
}

void CheckSigning(const GuardRailInput& input, const std::optional<LauncherBuild>& previous,
                  GuardRailFindings& findings) {
  const bool keyed = previous && previous->facts && !previous->publicKey.empty();
  if (!input.signingKey) {
    if (keyed) {
      findings.refusals.push_back(
          "the previous tree's Tarvo.exe installs only updates signed for the public key " +
          previous->publicKey +
          ", and players' launchers would refuse this unsigned one; give --sign-key with the "
          "file of its secret key");
    } else if (const auto signedEntry = SignedEarlierEntry(input)) {
      findings.warnings.push_back(*signedEntry +
                                  " on the site is signed, and this update is not: launchers "
                                  "built with a public key refuse it; give --sign-key as for the "
                                  "updates before it");
    }
    return;
  }
  if (keyed && KeyText(*input.signingKey) != previous->publicKey) {
    findings.refusals.push_back(
        "this update would be signed for the public key " + KeyText(*input.signingKey) +
        ", and the previous tree's Tarvo.exe installs only updates signed for " +
        previous->publicKey + "; give --sign-key with the file of that key");
  }
}

void CheckLauncherChange(const std::optional<LauncherBuild>& previous, const LauncherBuild& next,
                         GuardRailFindings& findings) {
  if (!previous) return;
  const std::string fix = " (cmake --preset win32 -DTARVO_UPDATE_HOST=" + previous->updateHost;
  if (next.updateHost != previous->updateHost) {
    const std::string text = "the update's Tarvo.exe is built for the update host " +
                             next.updateHost + ", the previous tree's for " + previous->updateHost +
                             ": players' launchers ask ";
    if (IsLocalHost(next.updateHost) && !IsLocalHost(previous->updateHost)) {
      findings.refusals.push_back(text + "a host on their own machine from their next start and " +
                                  "never find an update again; build it for " +
                                  previous->updateHost + fix + ")");
    } else {
      findings.warnings.push_back(text + next.updateHost +
                                  " from their next start: keep it serving the version list, "
                                  "or build Tarvo.exe for " +
                                  previous->updateHost + fix + ")");
    }
  }
  if (!next.facts || !previous->facts || next.publicKey == previous->publicKey) return;
  if (next.publicKey.empty()) {
    findings.warnings.push_back(
        "the update's Tarvo.exe is built without a public key and the previous tree's with " +
        previous->publicKey +
        ": players' launchers take unsigned updates from their next start; if that is not "
        "meant, build it with -DTARVO_PUBLIC_KEY=" +
        previous->publicKey);
  } else {
    findings.warnings.push_back(
        "the update's Tarvo.exe is built with the public key " + next.publicKey +
        (previous->publicKey.empty() ? std::string(", the previous tree's with none")
                                     : ", the previous tree's with " + previous->publicKey) +
        ": players' launchers take only updates signed for " + next.publicKey +
        " from their next start; publish every later update with --sign-key for it");
  }
}

}  // namespace

GuardRailFindings CheckGuardRails(const GuardRailInput& input) {
  GuardRailFindings findings;
  const std::optional<LauncherBuild> previous =
      TreeLauncher(input.previousLauncher, "previous", findings);
  CheckSigning(input, previous, findings);
  if (const auto next = TreeLauncher(input.newLauncher, "new", findings)) {
    CheckLauncherChange(previous, *next, findings);
  }
  if (input.base) {
    std::vector<VersionKey> listed;
    for (const VersionEntry& entry : input.list->entries) listed.push_back(entry.key);
    if (auto warning = ArchiveKindWarning(input.update, *input.base, listed, input.bases)) {
      findings.warnings.push_back(std::move(*warning));
    }
  }
  return findings;
}

GuardRailFindings CheckPublishGuardRails(const PublishOptions& options,
                                         const InstallationTree& previous,
                                         const TreeChanges& changes, const VersionList& list,
                                         const std::optional<VersionKey>& base,
                                         const std::optional<SecretKey>& signKey) {
  GuardRailInput input;
  input.update = {options.first, options.second};
  input.base = base;
  input.list = &list;
  input.listedArchive = [&options](const VersionEntry& entry) {
    return ListedArchivePath(entry.Url(), options.site, options.archives);
  };
  if (signKey) input.signingKey = PublicKeyOf(*signKey);
  const std::string launcher = FoldName(kLauncherName);
  if (const auto node = previous.nodes.find(launcher);
      node != previous.nodes.end() && node->second.kind == NodeKind::kFile) {
    input.previousLauncher = node->second.path;
  }
  for (const TreeNode& item : changes.items) {
    if (FoldName(item.name) == launcher) input.newLauncher = item.path;
  }
  input.bases = ReadArchiveBases(options.site);
  return CheckGuardRails(input);
}

std::vector<std::string> NotePublished(const PublishOptions& options,
                                       const std::optional<VersionKey>& base,
                                       const std::vector<fs::path>& written) {
  std::vector<std::string> warnings = UnservableByOthers(written);
  if (!base) return warnings;
  try {
    ArchiveBases bases = ReadArchiveBases(options.site);
    bases[{options.first, options.second}] = *base;
    WriteArchiveBases(options.site, bases);
  } catch (const std::exception& failure) {
    warnings.push_back(std::string(failure.what()) +
                       ": the next update is not held against the way this one was made");
  }
  return warnings;
}

}  // namespace tarvo::publish
