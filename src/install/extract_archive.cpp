#include "install/extract_archive.h"

#include <chrono>
#include <future>
#include <vector>

#include "common/windows_names.h"
#include "config/config_version.h"
#include "install/archive_removals.h"
#include "patch/patch_item.h"
#include "platform/files.h"
#include "unzip/system_failure.h"
#include "unzip/zip_archive.h"

namespace tarvo {

namespace {

// The current directory, however long; restored when the object goes.
class CurrentDirectory {
 public:
  CurrentDirectory() {
    // A current directory deeper than the usual buffer is still restored: the size the system
    // asks for is taken instead of a silent failure that would leave another directory current.
    saved_.assign(1024, u'\0');
    DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(saved_.size()), saved_.data());
    if (length >= saved_.size()) {
      saved_.assign(length, u'\0');
      length = GetCurrentDirectoryW(static_cast<DWORD>(saved_.size()), saved_.data());
    }
    saved_.resize(length < saved_.size() ? length : 0);
  }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;
  ~CurrentDirectory() { SetCurrentDirectoryW(saved_.c_str()); }

 private:
  std::u16string saved_;
};

// Closes the archive however the extraction ends.
struct OpenArchive {
  ZipHandle handle;
  ~OpenArchive() { ZipCloseArchive(handle); }
};

// Whether an archive is authentic, found on a thread of its own, or where it is asked for when
// no thread can be had.
class Authenticity {
 public:
  Authenticity(const std::u16string& path, const PublicKey& key, const std::string& versions) {
    const auto verify = [path, key, versions] {
      return VerifyArchiveFile(path.c_str(), key, versions);
    };
    try {
      verdict_ = std::async(std::launch::async, verify);
    } catch (const std::system_error&) {
      verdict_ = std::async(std::launch::deferred, verify);
    }
  }

  bool Known() const {
    return verdict_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }
  // Waits for the verdict (once).
  bool Authentic() { return verdict_.get(); }

 private:
  std::future<bool> verdict_;
};

// Places the items held, and the rest goes straight to its place.
ArchiveInstall Place(ZipHandle archive) {
  ZipHoldItems(archive, false);
  return ZipPlaceHeldItems(archive) == ZIP_OK ? ArchiveInstall::kDone
                                              : ArchiveInstall::kMachineFailed;
}

// Places the items held until the archive was found authentic (unless they are to be held on),
// or removes them.
ArchiveInstall Settle(ZipHandle archive, Authenticity& authenticity, bool place) {
  if (!authenticity.Authentic()) {
    ZipDiscardHeldItems(archive);
    return ArchiveInstall::kNotAuthentic;
  }
  return place ? Place(archive) : ArchiveInstall::kDone;
}

}  // namespace

ArchiveInstall ExtractArchiveToProgramDir(const std::u16string& archivePath,
                                          const std::u16string& programDirectory,
                                          const std::optional<PublicKey>& key,
                                          const CDiskFlush& flush, FetchedSegments* fetched) {
  // Held open, without letting others write, for the whole extraction: an archive in use by
  // another program is tried again later, one that is not there any more counts as none.
  CFile held;
  if (!held.Open(archivePath.c_str(), CFile::modeRead | CFile::shareDenyWrite)) {
    return IsSystemFailure(GetLastError()) ? ArchiveInstall::kMachineFailed : ArchiveInstall::kDone;
  }
  std::optional<Authenticity> authenticity;
  if (key) {
    const std::string versions = SignedVersionsOfFile(archivePath);
    if (versions.empty()) return ArchiveInstall::kNotAuthentic;
    authenticity.emplace(archivePath, *key, versions);
  }
  const CurrentDirectory restored;
  // The zip reader takes the current directory at opening as the root it extracts under; an
  // archive extracted under any other directory would write outside the installation.
  if (!SetCurrentDirectoryW(programDirectory.c_str())) return ArchiveInstall::kMachineFailed;

  const OpenArchive archive{ZipOpenArchive(archivePath.c_str())};
  if (archive.handle == nullptr) return ArchiveInstall::kUnreadable;
  ZipFlushItems(archive.handle, &flush);
  ZipItem item{};
  ZipGetItem(archive.handle, -1, &item);
  const std::int32_t count = item.index;
  // An archive with patches takes its place as a whole once every patch has made its file: one
  // whose patches wait for segments leaves the installation as it was.
  const bool patched = HasPatchItems(archive.handle, count);
  if (authenticity || patched) ZipHoldItems(archive.handle, true);
  ArchiveRemovals removals;
  std::optional<FetchedSegments> ownFetched;
  if (fetched == nullptr) fetched = &ownFetched.emplace(programDirectory);
  ArchivePatches patches(*fetched);
  // The configuration that an archive carries records versions as soon as it is in place: it
  // goes last, after the removals too, so that nothing records the archive's versions before
  // all the rest of it is done.
  std::vector<std::int32_t> configuration;
  // Extracts item i; the outcome when the archive's installation ends there.
  const auto extract = [&](std::int32_t i,
                           bool deferConfiguration) -> std::optional<ArchiveInstall> {
    item.index = 0;
    item.name[0] = 0;
    item.uncompressedSize = 0;
    ZipGetItem(archive.handle, i, &item);
    // Once the verdict is in, what is held is placed and the rest goes straight to its place. A
    // patch rebuilds its file from the installed one: only an authentic one may, so it waits for
    // the verdict.
    if (authenticity && (authenticity->Known() || IsPatchItem(item.name))) {
      const ArchiveInstall settled = Settle(archive.handle, *authenticity, !patched);
      authenticity.reset();
      if (settled != ArchiveInstall::kDone) return settled;
    }
    if (removals.Take(archive.handle, i, item)) {
      return removals.damaged() ? std::optional(ArchiveInstall::kDamaged) : std::nullopt;
    }
    if (deferConfiguration && SamePathIgnoringCase(item.name, kConfigFileName)) {
      configuration.push_back(i);
      return std::nullopt;
    }
    ZipResult result = ZIP_OK;
    if (IsPatchItem(item.name)) {
      result = patches.Install(archive.handle, i, item);
    } else if (patches.awaiting()) {
      // Installed again once the segments are here; meanwhile only patches are looked through.
      return std::nullopt;
    } else {
      result = ZipExtractItem(archive.handle, i, item.name);
    }
    // Held items go when the archive is closed.
    if (result == ZIP_ERR_SYSTEM || result == ZIP_ERR_WRITE) return ArchiveInstall::kMachineFailed;
    if (IsZipDamage(result)) return ArchiveInstall::kDamaged;
    return std::nullopt;
  };
  for (std::int32_t i = 0; i < count; ++i) {
    if (const auto ended = extract(i, true)) return *ended;
  }
  // What is held goes when the archive is closed.
  if (patches.awaiting()) return ArchiveInstall::kAwaitingSegments;
  if (authenticity) {
    const ArchiveInstall settled = Settle(archive.handle, *authenticity, true);
    authenticity.reset();
    if (settled != ArchiveInstall::kDone) return settled;
  } else if (patched && Place(archive.handle) != ArchiveInstall::kDone) {
    return ArchiveInstall::kMachineFailed;
  }
  if (!removals.Apply(programDirectory)) return ArchiveInstall::kMachineFailed;
  for (const std::int32_t i : configuration) {
    if (const auto ended = extract(i, false)) return *ended;
  }
  return ArchiveInstall::kDone;
}

}  // namespace tarvo
