#include <memory>

#include "app/launcher_messages.h"
#include "net/download.h"
#include "net/fetch_archive.h"
#include "platform/framework.h"

namespace tarvo {

namespace {

void PostDownloadFinished() {
  CWinApp* app = AfxGetApp();
  const HWND main_window = app != nullptr ? app->GetMainWndHandle() : nullptr;
  if (main_window != nullptr) PostMessageW(main_window, WM_DOWNLOAD_FINISHED, 0, 0);
}

}  // namespace

void StartDownload(const std::u16string& url, const std::u16string& destination) {
  StartDownload(url, destination, &CreateThread);
}

void StartDownload(const std::u16string& url, const std::u16string& destination,
                   BOOL (*startThread)(LPTHREAD_START_ROUTINE routine, void* parameter)) {
  // A URL that is empty up to its first NUL names nothing to fetch.
  if (url.c_str()[0] == u'\0') return;
  auto request = std::make_unique<DownloadRequest>(DownloadRequest{url, destination});
  if (startThread(&DownloadThreadProc, request.get())) {
    request.release();  // the worker owns it now
    return;
  }
  PostDownloadFinished();
}

DWORD DownloadThreadProc(void* parameter) {
  std::unique_ptr<DownloadRequest> request(static_cast<DownloadRequest*>(parameter));
  CoInitialize(nullptr);
  if (request) FetchArchive(*request);
  PostDownloadFinished();
  request.reset();
  CoUninitialize();
  return 0;
}

}  // namespace tarvo
