#pragma once
// The downloads of one start, as the launcher runs them: in the order planned, a few at a time.

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "net/download.h"
#include "net/download_pacer.h"

namespace tarvo {

// Transfers that run at once. A further one starts when one of them ends without storing.
inline constexpr std::size_t kMaxTransfers = 4;
// Downloads one start takes on; a list that asks for more gets the rest at a later start.
inline constexpr std::size_t kMaxPlannedDownloads = 4096;

// Used on the launcher's main thread only: downloads are added while the version list is
// planned, and each WM_DOWNLOAD_FINISHED is reported back with Ended.
class DownloadQueue {
 public:
  using Start = std::function<void(const std::u16string& url, const std::u16string& destination,
                                   const BodyCheck& check)>;

  // Downloads start with StartDownload, within kDownloadLimits and together paced by `pacer`
  // (none: no limit), naming themselves by `agent` (empty: the application's name), leaving the
  // disk reserve free together; with `publicKey`, an archive is stored only when it is signed
  // with it. When none of them receives anything for kStallLimit, WM_DOWNLOADS_STALLED goes to
  // the application's main window.
  DownloadQueue(const std::optional<PublicKey>& publicKey,
                std::shared_ptr<DownloadPacer> pacer = nullptr, std::u16string agent = {});
  // `start` starts one download whose end is reported back later.
  DownloadQueue(Start start, std::size_t maxTransfers);

  // Plans a download: started at once while fewer than the maximum run, else kept for later.
  // False, and nothing planned, for an empty URL, for a destination planned already (one start
  // fetches each destination once; names compare ignoring ASCII case, as Windows does), and
  // once kMaxPlannedDownloads are planned. With check.accept, the download is no update
  // archive (DownloadRequest::check).
  bool Add(const std::u16string& url, const std::u16string& destination, BodyCheck check = {});

  // A download ended, `stored` or not. Starts the next waiting one when it stored nothing.
  // True when the launcher is done: a download stored its archive, or every planned one ended.
  bool Ended(bool stored);

  std::size_t planned() const { return m_planned.size(); }

 private:
  struct Waiting {
    std::u16string url;
    std::u16string destination;
    BodyCheck check;
  };

  Start m_start;
  std::size_t m_maxTransfers;
  std::set<std::u16string> m_planned;  // destinations, case folded
  std::deque<Waiting> m_waiting;
  std::size_t m_running = 0;
  std::size_t m_ended = 0;
  bool m_stored = false;
};

}  // namespace tarvo
