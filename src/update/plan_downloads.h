#pragma once
// Turning the version list page into downloads of the archives newer than the recorded versions.
//
// The page holds a list between "<vlVersionList>" and "</vlVersionList>"; each entry of the
// list stands between "<Version>" and "</Version>" and is laid out at fixed widths: 5 characters
// of first version, 8 of second version, then the archive URL. An entry qualifies when its first
// version equals the recorded one, its second version is greater than the recorded one, its URL
// is not empty and the URL's file name is a plain name inside UpdateZip\ (IsSafeArchiveName).

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo {

// What planning needs from the rest of the launcher: the recorded version pair and a way to
// start a download. The launcher answers from Sys\Config.ini and the download worker; tests
// record instead.
class DownloadPlanner {
 public:
  virtual ~DownloadPlanner() = default;
  // Sets both values and returns true, or returns false when no configuration exists.
  virtual bool ReadVersions(std::int32_t& first, std::int32_t& second) = 0;
  // Starts the download of `url` into the file `destination`; returns at once.
  virtual void StartDownload(const std::u16string& url, const std::u16string& destination) = 0;
};

// The file name part of a URL: the text after its last "/", or, when it has none, after its
// last "\", or the whole URL when it has neither. Nothing is decoded; a query stays in the name.
std::u16string FileNameFromUrl(std::u16string_view url);

// True when `name` may become a file in UpdateZip\: it holds no "\" and no ":" (which would
// reach another folder or, on Windows, a stream of another file) and is not "." or "..".
// The empty name passes; storing under it fails later without harm.
bool IsSafeArchiveName(std::u16string_view name);

// Plans the downloads that the version list in `page` asks for. The version pair is read only
// once both list tags were found; when it cannot be read nothing is examined further. For each
// qualifying entry, in the order the list gives them, starts a download of the entry's URL into
// programDirectory + "UpdateZip\" + FileNameFromUrl(url). Entries are taken as the following
// procedure takes them, including on malformed pages: find the first "<Version>" and the first
// "</Version>" of the list body, take the text between them as the entry (empty when the
// closing tag comes first), remove those two tags from the body, and repeat while both exist.
// Removing tags can join the text around them into new tags; those count too.
// Its cost grows with the length of the page and of the URLs it hands out, not with the
// square of the number of entries.
// Returns 1 when at least one download was started, else 0. Exceptions from the planner and
// from allocation propagate.
int PlanDownloads(std::u16string_view page, DownloadPlanner& planner,
                  const std::u16string& programDirectory);

// The launcher's planning: the version pair from Sys\Config.ini (ReadConfigVersion), downloads
// by the background worker (StartDownload), destinations under GetProgramDirectory().
int PlanDownloads(std::u16string_view page);

}  // namespace tarvo
