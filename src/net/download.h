#pragma once
// Background downloads of update archives: one detached worker thread per archive, which stores
// the archive only when it arrived whole and then posts WM_DOWNLOAD_FINISHED to the launcher.

#include <string>

#include "platform/threads.h"
#include "platform/types.h"

namespace tarvo {

// What a worker is to fetch and where to store it.
struct DownloadRequest {
  std::u16string url;          // absolute HTTP URL of the archive
  std::u16string destination;  // full path of the file to create for it
};

// Starts a worker that fetches `url` into `destination` and returns at once; the worker posts
// WM_DOWNLOAD_FINISHED to the application's main window when it ends, stored or not. An empty
// `url` starts nothing, and no message follows. Should no thread start, the message is posted
// at once, so that the launcher never waits for a worker that does not exist.
void StartDownload(const std::u16string& url, const std::u16string& destination);

// StartDownload with the thread start given (CreateThread above).
void StartDownload(const std::u16string& url, const std::u16string& destination,
                   BOOL (*startThread)(LPTHREAD_START_ROUTINE routine, void* parameter));

// The worker's thread routine. `parameter` is a DownloadRequest made with new, which the
// routine owns and destroys. It fetches the archive (see FetchArchive in fetch_archive.h) with
// COM initialised for the thread, posts WM_DOWNLOAD_FINISHED to the main window once the
// destination is complete and closed (or nothing was stored), and returns 0. Never throws.
DWORD DownloadThreadProc(void* parameter);

// Creates a new, empty file with a unique name beginning with "vl" in the system's temporary
// folder and returns its full path; empty text when none could be made.
std::u16string MakeTempFileName();

}  // namespace tarvo
