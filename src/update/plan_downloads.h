#pragma once
// Turning the version list page into downloads of the archives newer than the recorded versions.
//
// The page holds a list between "<vlVersionList>" and "</vlVersionList>"; each entry of the
// list stands between "<Version>" and "</Version>" and is laid out at fixed widths: 5 characters
// of first version, 8 of second version, then the archive URL. An entry qualifies when its 13
// version characters are all decimal digits, its first version equals the recorded one, its
// second version is greater than the recorded one, and its URL is neither empty nor longer
// than kMaxArchiveUrlLength. Its archive is stored as "UpdateZip\" + the entry's 13 digits +
// ".zip", whatever the URL calls it, so the name always carries the entry's versions.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo {

// The longest archive URL taken. WinINet opens nothing longer than about 2 KiB; signed CDN
// links stay well below this.
inline constexpr std::size_t kMaxArchiveUrlLength = 4096;

// What planning needs from the rest of the launcher: the recorded version pair and a way to
// start a download. The launcher answers from Sys\Config.ini and its download queue; tests
// record instead.
class DownloadPlanner {
 public:
  virtual ~DownloadPlanner() = default;
  // Sets both values and returns true, or returns false when no configuration can be read.
  virtual bool ReadVersions(std::int32_t& first, std::int32_t& second) = 0;
  // Starts the download of `url` into the file `destination`, or declines it; returns at once.
  // True when a download was started.
  virtual bool StartDownload(const std::u16string& url, const std::u16string& destination) = 0;
  // Called once the whole list has been planned, after its last StartDownload: the entries
  // handed to StartDownload, started or declined, are all that the list plans.
  virtual void ListPlanned() {}
};

// The name an entry's archive is stored under: its 13 version characters and ".zip"; empty
// when the entry does not begin with 13 decimal digits.
std::u16string ArchiveNameForEntry(std::u16string_view entry);

// Plans the downloads that the version list in `page` asks for. The version pair is read only
// once both list tags were found; when it cannot be read nothing is examined further. For each
// qualifying entry, in the order the list gives them, starts a download of the entry's URL into
// programDirectory + "UpdateZip\" + ArchiveNameForEntry(entry). Entries are taken as the
// following procedure takes them, including on malformed pages: find the first "<Version>" and
// the first "</Version>" of the list body, take the text between them as the entry (empty when
// the closing tag comes first), remove those two tags from the body, and repeat while both
// exist. Removing tags can join the text around them into new tags; those count too.
// Its cost grows with the length of the page, not with the square of the number of entries.
// Then tells the planner the list is done (ListPlanned). Returns 1 when at least one download
// was started, else 0. Exceptions from the planner and from allocation propagate.
int PlanDownloads(std::u16string_view page, DownloadPlanner& planner,
                  const std::u16string& programDirectory);

}  // namespace tarvo
