#include "install/install_order.h"

#include <algorithm>
#include <string_view>

#include "platform/files.h"

namespace tarvo {

namespace {

constexpr std::string_view kRecordHead = "TARVO-PLANNED-1\n";
constexpr std::size_t kLineLength = 14;  // 13 digits and a line feed
constexpr std::size_t kMaxRecordBytes = kRecordHead.size() + kMaxPlannedEntries * kLineLength;

std::string EntryLine(const ArchiveVersions& entry) {
  std::string digits = std::to_string(entry.first);
  digits.insert(0, 5 - std::min<std::size_t>(digits.size(), 5), '0');
  std::string second = std::to_string(entry.second);
  second.insert(0, 8 - std::min<std::size_t>(second.size(), 8), '0');
  return digits + second + "\n";
}

std::optional<PlannedEntries> ParseRecord(std::string_view text) {
  if (!text.starts_with(kRecordHead)) return std::nullopt;
  text.remove_prefix(kRecordHead.size());
  if (text.size() % kLineLength != 0) return std::nullopt;
  PlannedEntries entries;
  for (; !text.empty(); text.remove_prefix(kLineLength)) {
    const std::u16string line(text.begin(), text.begin() + kLineLength);
    const auto versions = VersionsFromFileTitle(line);
    if (!versions || line.back() != u'\n') return std::nullopt;
    entries.push_back(*versions);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

}  // namespace

std::optional<PlannedEntries> ReadPlannedEntries(const std::u16string& folder) {
  CFile file;
  if (!file.Open((folder + kPlannedEntriesName).c_str(), CFile::modeRead)) return std::nullopt;
  try {
    if (file.GetLength() > kMaxRecordBytes) return std::nullopt;
    std::string text(static_cast<std::size_t>(file.GetLength()), '\0');
    std::size_t size = 0;
    while (size < text.size()) {
      const UINT got = file.Read(text.data() + size, static_cast<UINT>(text.size() - size));
      if (got == 0) break;
      size += got;
    }
    text.resize(size);
    return ParseRecord(text);
  } catch (const CException&) {
    return std::nullopt;
  }
}

bool WritePlannedEntries(const std::u16string& folder, PlannedEntries entries) {
  const std::u16string path = folder + kPlannedEntriesName;
  // Nothing planned leaves nothing to wait for: no record at all says the same.
  if (entries.empty() || entries.size() > kMaxPlannedEntries) {
    DeleteFileW(path.c_str());
    return entries.empty() && !PathFileExistsW(path.c_str());
  }
  std::sort(entries.begin(), entries.end());
  entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
  std::string text(kRecordHead);
  for (const ArchiveVersions& entry : entries) text += EntryLine(entry);

  // Held while written, so that two launchers never write into one another's text.
  const std::u16string staged = path + u".new";
  CFile file;
  if (!file.Open(staged.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive)) {
    return false;
  }
  try {
    file.Write(text.data(), static_cast<UINT>(text.size()));
    file.Flush();
    file.Close();
  } catch (const CException&) {
    file.Delete();
    return false;
  }
  if (MoveFileExW(staged.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileW(staged.c_str());
  return false;
}

bool AwaitsPlannedEntry(const PlannedEntries& planned, std::int32_t recordedFirst,
                        std::int32_t recordedSecond, const ArchiveVersions& archive) {
  if (archive.first != recordedFirst) return false;
  // The first planned entry past the recorded pair, if it comes before the archive.
  const auto next = std::upper_bound(planned.begin(), planned.end(),
                                     ArchiveVersions{recordedFirst, recordedSecond});
  return next != planned.end() && next->first == archive.first && next->second < archive.second;
}

}  // namespace tarvo
