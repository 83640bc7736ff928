#include "publish/site_check.h"

#include <algorithm>
#include <map>
#include <set>

#include "common/utf.h"
#include "install/removal_list.h"
#include "publish/archive_url.h"
#include "publish/file_bytes.h"
#include "publish/guard_rails/served_files.h"
#include "publish/same_file_items.h"
#include "publish/store_check.h"
#include "publish/version_page.h"
#include "unzip/zip_archive.h"

namespace tarvo::publish {

namespace fs = std::filesystem;

namespace {

std::string EntryLabel(const VersionEntry& entry) {
  return "line " + std::to_string(entry.line) + ", entry " +
         entry.text.substr(0, std::min(entry.text.size(), kVersionDigits));
}

bool IsDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsPlainUrl(std::string_view url) {
  return std::all_of(url.begin(), url.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x7F;
  });
}

// Closes the archive however the reading ends.
struct OpenArchive {
  ZipHandle handle;
  ~OpenArchive() { ZipCloseArchive(handle); }
};

std::string ListedName(std::u16string name, bool folder) {
  std::replace(name.begin(), name.end(), u'\\', u'/');
  return Utf16ToUtf8(name) + (folder ? "/" : "");
}

// What the removal lists of the archive at `file` remove, as launchers read them.
void CheckRemovals(const std::string& label, const fs::path& file,
                   std::vector<std::string>& problems, std::vector<std::string>* removals) {
  const OpenArchive archive{ZipOpenArchive(Utf8ToUtf16(file.string()).c_str())};
  ZipItem item{};
  ZipGetItem(archive.handle, -1, &item);
  const std::int32_t count = item.index;
  for (std::int32_t i = 0; i < count; ++i) {
    if (ZipGetItem(archive.handle, i, &item) != ZIP_OK || !IsRemovalListItem(item.name)) continue;
    std::string text;
    std::optional<RemovalList> list;
    if (ZipReadItem(archive.handle, i, kMaxRemovalListBytes, &text) == ZIP_OK) {
      list = ParseRemovalList(text);
    }
    if (!list) {
      problems.push_back(label + ": the removal list in " + file.string() +
                         " cannot be read, so launchers remove nothing");
      continue;
    }
    for (const std::string& refused : list->refused) {
      problems.push_back(label + ": the removal list names " + refused +
                         ", which launchers never remove");
    }
    if (removals == nullptr) continue;
    for (const std::u16string& name : list->files) {
      removals->push_back(label + ": removes " + ListedName(name, false));
    }
    for (const std::u16string& name : list->folders) {
      removals->push_back(label + ": removes " + ListedName(name, true) + " when empty");
    }
  }
}

// The problems of one entry's fields and URL. True when it has a URL to fetch.
bool CheckEntryText(const VersionEntry& entry, const std::string& label,
                    std::vector<std::string>& problems) {
  const std::string_view digits = std::string_view(entry.text).substr(0, kVersionDigits);
  if (digits.size() < kVersionDigits || !IsDigits(digits)) {
    problems.push_back(label + ": does not begin with 13 digits, so the launcher never " +
                       "downloads it");
  }
  if (entry.Url().empty()) {
    problems.push_back(label + ": no archive URL, so the launcher never downloads it");
    return false;
  }
  if (!IsPlainUrl(entry.Url())) {
    problems.push_back(label + ": the archive URL holds white space or characters beyond ASCII");
  }
  return true;
}

// The problems of an entry's archive in the site folder. Returns its file when there is one.
std::optional<fs::path> CheckArchiveFile(
    const VersionEntry& entry, const std::string& label, const fs::path& site,
    const std::optional<fs::path>& archives, const std::optional<PublicKey>& key,
    std::vector<std::string>& problems, std::vector<std::string>* removals,
    const std::optional<fs::path>& store, std::set<SegmentHash>& checkedFrames) {
  const std::string_view url = entry.Url();
  const std::optional<fs::path> file = ListedArchivePath(url, site, archives);
  if (!file) {
    problems.push_back(label + ": the archive URL's path does not lead into the site");
    return std::nullopt;
  }
  if (ArchiveNameFromUrl(url).empty() || !fs::is_regular_file(*file)) {
    problems.push_back(label + ": archive missing: " + file->string());
    return std::nullopt;
  }
  if (!ZipCheckArchive(Utf8ToUtf16(file->string()).c_str())) {
    problems.push_back(label + ": " + file->string() +
                       " is no zip archive that the launcher reads whole, so it never stores it");
    return file;
  }
  if (key && !VerifyArchiveFile(Utf8ToUtf16(file->string()).c_str(), *key,
                                entry.text.substr(0, kVersionDigits))) {
    problems.push_back(label + ": " + file->string() +
                       " is not signed with the key for these versions, so launchers built "
                       "with it never store it");
  }
  CheckRemovals(label, *file, problems, removals);
  CheckPatches(label, *file, site, store, checkedFrames, problems);
  for (const std::string& text : SameFileItems(*file)) {
    problems.push_back(label + ": " + file->string() + ": " + text);
  }
  return file;
}

}  // namespace

std::optional<fs::path> SiteFileForUrl(const fs::path& site, std::string_view url) {
  const auto segments = UrlPathSegments(url);
  if (!segments) return std::nullopt;
  fs::path file = site;
  for (const std::string& segment : *segments) file /= segment;
  return file;
}

std::optional<fs::path> ListedArchivePath(std::string_view url, const fs::path& site,
                                          const std::optional<fs::path>& archives) {
  if (archives) return *archives / fs::path(ArchiveNameFromUrl(url));
  return SiteFileForUrl(site, url);
}

std::vector<std::string> CheckVersionPage(std::string_view page, const std::string& pageName,
                                          const ArchiveCheck& archive) {
  std::vector<std::string> problems;
  const VersionList list = ParseVersionList(page);
  if (list.state == ListState::kMissing) {
    problems.push_back(pageName + " has no " + std::string(kListOpenTag) + " ... " +
                       std::string(kListCloseTag) + " element");
    return problems;
  }
  if (list.state == ListState::kClosedBeforeOpened) {
    problems.push_back(pageName + ": the first " + std::string(kListCloseTag) +
                       " comes before the first " + std::string(kListOpenTag) +
                       ", so the launcher sees an empty list");
    return problems;
  }
  problems.insert(problems.end(), list.faults.begin(), list.faults.end());

  std::map<VersionKey, const VersionEntry*> byVersions;
  for (const VersionEntry& entry : list.entries) {
    const std::string label = EntryLabel(entry);
    if (CheckEntryText(entry, label, problems)) archive(entry, label, problems);
    const auto [sameVersions, firstOfVersions] = byVersions.emplace(entry.key, &entry);
    if (!firstOfVersions) {
      problems.push_back(label + ": the same versions as line " +
                         std::to_string(sameVersions->second->line) +
                         "; players download only the first of them");
    }
  }
  return problems;
}

std::vector<std::string> CheckSite(const fs::path& site, const std::optional<fs::path>& archives,
                                   const std::optional<PublicKey>& key, SiteNotes* notes,
                                   std::optional<VersionKey> signedSince,
                                   const std::optional<fs::path>& store) {
  const fs::path pagePath = site / kPageName;
  std::vector<fs::path> served = {pagePath};
  std::set<SegmentHash> checkedFrames;  // each frame of the store is checked once
  const auto problems = CheckVersionPage(
      ReadFileBytes(pagePath), pagePath.string(),
      [&](const VersionEntry& entry, const std::string& label, std::vector<std::string>& found) {
        const bool signedOne = key && !(signedSince && entry.key < *signedSince);
        const auto file =
            CheckArchiveFile(entry, label, site, archives, signedOne ? key : std::nullopt, found,
                             notes ? &notes->removals : nullptr, store, checkedFrames);
        if (file) served.push_back(*file);
      });
  if (notes) notes->unservable = UnservableByOthers(served);
  return problems;
}

}  // namespace tarvo::publish
