#include "update/plan_downloads.h"

#include <optional>

#include "common/decimal.h"
#include "common/find_text.h"
#include "config/config_version.h"
#include "update/entry_scanner.h"

namespace tarvo {

namespace {

constexpr std::u16string_view kListOpen = u"<vlVersionList>";
constexpr std::u16string_view kListClose = u"</vlVersionList>";
constexpr char16_t kUpdateFolder[] = u"UpdateZip\\";

// An entry's fields by character position: first version, second version, archive URL.
constexpr std::size_t kSecondStart = 5;
constexpr std::size_t kUrlStart = 13;

}  // namespace

std::u16string ArchiveNameForEntry(std::u16string_view entry) {
  if (!StartsWithDigits(entry, kUrlStart)) return {};
  return std::u16string(entry.substr(0, kUrlStart)) + u".zip";
}

int PlanDownloads(std::u16string_view page, DownloadPlanner& planner,
                  const std::u16string& programDirectory) {
  const std::size_t listOpen = FindText(page, kListOpen);
  if (listOpen == std::u16string_view::npos) return 0;
  const std::size_t listClose = FindText(page, kListClose);
  if (listClose == std::u16string_view::npos) return 0;
  std::int32_t recordedFirst = 0;
  std::int32_t recordedSecond = 0;
  if (!planner.ReadVersions(recordedFirst, recordedSecond)) return 0;

  // The two list tags cannot overlap, so a closing tag after the opening one is past its end.
  const std::size_t bodyStart = listOpen + kListOpen.size();
  const std::u16string_view body = listClose >= bodyStart
                                       ? page.substr(bodyStart, listClose - bodyStart)
                                       : std::u16string_view();

  int started = 0;
  EntryScanner entries(body);
  while (entries.NextEntry()) {
    // The version characters and the URL's first character.
    const std::u16string head = entries.EntryPrefix(kUrlStart + 1);
    const std::u16string name = ArchiveNameForEntry(head);
    if (name.empty() || head.size() <= kUrlStart) continue;
    const std::u16string_view fields(head);
    const std::int32_t first = ParseDecimal(fields.substr(0, kSecondStart));
    const std::int32_t second = ParseDecimal(fields.substr(kSecondStart, kUrlStart - kSecondStart));
    if (!FollowsRecordedVersions(first, second, recordedFirst, recordedSecond)) continue;
    const std::optional<std::u16string> url = entries.EntryText(kUrlStart, kMaxArchiveUrlLength);
    if (!url) continue;
    if (planner.StartDownload(*url, programDirectory + kUpdateFolder + name)) started = 1;
  }
  planner.ListPlanned();
  return started;
}

}  // namespace tarvo
