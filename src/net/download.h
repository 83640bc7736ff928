#pragma once
// Background downloads of update archives: one detached worker thread per archive, which stores
// the archive only when it arrived whole and then posts WM_DOWNLOAD_FINISHED to the launcher.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "net/transfer_guard.h"
#include "unzip/archive_signature.h"
#include "platform/threads.h"
#include "platform/types.h"

namespace tarvo {

class DiskBudget;
class DownloadPacer;
class TransferActivity;

// A transfer that receives less than 60 KiB in any minute (below 1 KiB/s) is given up: a
// server that trickles would otherwise keep the hidden launcher alive for ever.
inline constexpr TransferLimits kDownloadLimits{std::chrono::milliseconds(0),
                                                std::chrono::seconds(60), 60 * 1024};

// What a download other than an update archive (a segment that a patch needs) is to store: a
// body of at most `maxLength` bytes (one announced longer is not read at all) that `accept`
// accepts, complete in the file at the path it is given. `accept` runs on the download's own
// thread and must not throw. Without `accept`, the download is of an update archive.
struct BodyCheck {
  std::uint64_t maxLength = 0;
  std::function<bool(const std::u16string& path)> accept = nullptr;
};

// What a worker is to fetch and where to store it.
struct DownloadRequest {
  std::u16string url;          // absolute HTTP URL of the archive
  std::u16string destination;  // full path of the file to create for it
  TransferLimits limits = kDownloadLimits;
  // When set, the archive is stored only when it is signed with this key for the 13 digits
  // that the destination's file name begins with.
  std::optional<PublicKey> publicKey = std::nullopt;
  // Shared by the downloads of one launcher to keep them together under a rate; none: no limit.
  std::shared_ptr<DownloadPacer> pacer = nullptr;
  // Shared by the downloads of one launcher so that together they leave the disk reserve free;
  // none: the transfer counts for itself alone.
  std::shared_ptr<DiskBudget> budget = nullptr;
  // Shared by the downloads of one launcher, which hear from it when none receives anything;
  // none: nobody listens.
  std::shared_ptr<TransferActivity> activity = nullptr;
  // The user agent the request names itself by; empty: the application's name.
  std::u16string agent = {};
  // Set for a download that is no update archive (a segment a patch needs): its body is stored
  // when the check accepts it, instead of when it is a zip archive signed with publicKey, and
  // its end is reported with wParam 0 stored or not, so that it never ends the launcher alone.
  BodyCheck check = {};
};

// Starts a worker that fetches `url` into `destination` and returns at once; the worker posts
// WM_DOWNLOAD_FINISHED to the application's main window when it ends, with wParam 1 when it
// stored the archive and 0 when not (always 0 for a request with check.accept). An empty `url`
// starts nothing, and no message follows. Should no thread start, the message (0) is posted at
// once, so that the launcher never waits for a worker that does not exist.
void StartDownload(const std::u16string& url, const std::u16string& destination);

// StartDownload of a whole request, with the thread start given (CreateThread above).
void StartDownload(DownloadRequest request,
                   BOOL (*startThread)(LPTHREAD_START_ROUTINE routine, void* parameter));

// The worker's thread routine. `parameter` is a DownloadRequest made with new, which the
// routine owns and destroys. It fetches the archive (FetchArchive in fetch_archive.h) with COM
// initialised for the thread while a watcher thread holds it to request.limits, and returns 0.
// Exactly one WM_DOWNLOAD_FINISHED follows: from the worker once the destination is complete
// and closed (1) or nothing was stored (0), or from the watcher (0) when it gave the transfer
// up, however long the worker's own call then still blocks. Never throws.
DWORD DownloadThreadProc(void* parameter);

// Posts `message` with `wParam` (and lParam 0) to the application's main window, when there is
// one. Any thread.
void PostToLauncher(UINT message, WPARAM wParam);

// Creates a new, empty file with a unique name beginning with "vl" in the system's temporary
// folder and returns its full path; empty text when none could be made.
std::u16string MakeTempFileName();

}  // namespace tarvo
