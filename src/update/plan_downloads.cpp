#include "update/plan_downloads.h"

#include <optional>

#include "common/decimal.h"
#include "common/find_text.h"
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

std::u16string FileNameFromUrl(std::u16string_view url) {
  auto cut = url.rfind(u'/');
  if (cut == std::u16string_view::npos) cut = url.rfind(u'\\');
  return std::u16string(cut == std::u16string_view::npos ? url : url.substr(cut + 1));
}

bool IsSafeArchiveName(std::u16string_view name) {
  return name.find_first_of(u"\\:") == std::u16string_view::npos && name != u"." && name != u"..";
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
    const std::u16string head = entries.EntryPrefix(kUrlStart + 1);
    const std::u16string_view fields(head);
    const std::int32_t first = ParseDecimal(fields.substr(0, kSecondStart));
    const std::int32_t second =
        fields.size() > kSecondStart
            ? ParseDecimal(fields.substr(kSecondStart, kUrlStart - kSecondStart))
            : 0;
    const bool hasUrl = fields.size() > kUrlStart;
    if (!hasUrl || first != recordedFirst || second <= recordedSecond) continue;
    const std::optional<std::u16string> name = entries.EntryFileName(kUrlStart);
    if (!name || !IsSafeArchiveName(*name)) continue;
    started = 1;
    planner.StartDownload(entries.EntryText(kUrlStart), programDirectory + kUpdateFolder + *name);
  }
  return started;
}

}  // namespace tarvo
