#include <memory>

#include "app/launcher_messages.h"
#include "net/download.h"
#include "net/fetch_archive.h"
#include "net/transfer_activity.h"
#include "platform/framework.h"

namespace tarvo {

namespace {

constexpr DWORD kContext = 1;

void PostDownloadFinished(bool stored) { PostToLauncher(WM_DOWNLOAD_FINISHED, stored ? 1 : 0); }

// The watcher's thread routine: `parameter` is a shared_ptr to the guard, made with new.
DWORD WatchTransfer(void* parameter) {
  const std::unique_ptr<std::shared_ptr<TransferGuard>> guard(
      static_cast<std::shared_ptr<TransferGuard>*>(parameter));
  // The worker reports every end but this one.
  if ((*guard)->Watch() == TransferGuard::Verdict::kGivenUp) PostDownloadFinished(false);
  return 0;
}

// Fetches the request while a watcher holds it to its limits. Without a watcher nothing is
// fetched: an unwatched transfer could keep the launcher for ever.
FetchOutcome FetchWatched(const DownloadRequest& request) {
  try {
    const std::shared_ptr<TransferGuard> guard = TransferGuard::Make(
        request.limits, request.agent.empty() ? nullptr : request.agent.c_str(), kContext);
    auto shared = std::make_unique<std::shared_ptr<TransferGuard>>(guard);
    if (!CreateThread(&WatchTransfer, shared.get())) return FetchOutcome::kFailed;
    shared.release();  // the watcher owns it now
    return FetchArchive(request, *guard);
  } catch (...) {
    return FetchOutcome::kFailed;
  }
}

}  // namespace

void PostToLauncher(UINT message, WPARAM wParam) {
  CWinApp* app = AfxGetApp();
  const HWND main_window = app != nullptr ? app->GetMainWndHandle() : nullptr;
  if (main_window != nullptr) PostMessageW(main_window, message, wParam, 0);
}

void StartDownload(const std::u16string& url, const std::u16string& destination) {
  StartDownload(DownloadRequest{url, destination}, &CreateThread);
}

void StartDownload(DownloadRequest request,
                   BOOL (*startThread)(LPTHREAD_START_ROUTINE routine, void* parameter)) {
  // A URL that is empty up to its first NUL names nothing to fetch.
  if (request.url.c_str()[0] == u'\0') return;
  auto owned = std::make_unique<DownloadRequest>(std::move(request));
  if (startThread(&DownloadThreadProc, owned.get())) {
    owned.release();  // the worker owns it now
    return;
  }
  PostDownloadFinished(false);
}

DWORD DownloadThreadProc(void* parameter) {
  std::unique_ptr<DownloadRequest> request(static_cast<DownloadRequest*>(parameter));
  CoInitialize(nullptr);
  if (request && request->activity) request->activity->Started();
  const FetchOutcome outcome = request ? FetchWatched(*request) : FetchOutcome::kFailed;
  if (request && request->activity) request->activity->Ended();
  if (outcome != FetchOutcome::kGivenUp) {
    PostDownloadFinished(outcome == FetchOutcome::kStored && request && !request->check.accept);
  }
  request.reset();
  CoUninitialize();
  return 0;
}

}  // namespace tarvo
