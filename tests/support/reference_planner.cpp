#include "support/reference_planner.h"

#include "common/decimal.h"

namespace tarvo::test {

int ReferencePlanDownloads(std::u16string_view page, DownloadPlanner& planner,
                           const std::u16string& programDirectory) {
  constexpr auto npos = std::u16string::npos;
  int started = 0;
  const std::size_t listOpen = page.find(u"<vlVersionList>");
  if (listOpen == npos) return 0;
  const std::size_t listClose = page.find(u"</vlVersionList>");
  if (listClose == npos) return 0;
  std::int32_t recordedFirst = 0;
  std::int32_t recordedSecond = 0;
  if (!planner.ReadVersions(recordedFirst, recordedSecond)) return 0;

  std::u16string body;
  if (listClose > listOpen) body = page.substr(listOpen + 15, listClose - (listOpen + 15));

  std::size_t open = body.find(u"<Version>");
  std::size_t close = body.find(u"</Version>");
  while (open != npos && close != npos) {
    std::u16string entry;
    if (close > open) entry = body.substr(open + 9, close - (open + 9));

    const std::u16string first = entry.substr(0, 5);
    const std::u16string second = entry.size() > 5 ? entry.substr(5, 8) : u"";
    const std::u16string url = entry.size() > 13 ? entry.substr(13) : u"";
    bool digits = entry.size() >= 13;
    for (std::size_t i = 0; i < 13 && digits; ++i) digits = entry[i] >= u'0' && entry[i] <= u'9';
    if (digits && ParseDecimal(first) == recordedFirst && ParseDecimal(second) > recordedSecond &&
        !url.empty() && url.size() <= kMaxArchiveUrlLength &&
        planner.StartDownload(url,
                              programDirectory + u"UpdateZip\\" + entry.substr(0, 13) + u".zip")) {
      started = 1;
    }

    // The later tag goes first, so that the earlier one's position still holds.
    if (close > open) {
      body.erase(close, 10);
      body.erase(open, 9);
    } else {
      body.erase(open, 9);
      body.erase(close, 10);
    }
    open = body.find(u"<Version>");
    close = body.find(u"</Version>");
  }
  return started;
}

}  // namespace tarvo::test
