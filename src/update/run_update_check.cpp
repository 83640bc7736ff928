#include "update/run_update_check.h"

#include <array>
#include <memory>

#include "net/transfer_guard.h"
#include "platform/internet.h"
#include "platform/threads.h"
#include "update/ansi_page_text.h"

namespace tarvo {

namespace {

constexpr DWORD kSessionContext = 0;
constexpr DWORD kRequestContext = 1;

// One fetch of the version list, shared by the thread that fetches and the one that waits.
struct VersionListFetch {
  std::u16string url;
  std::shared_ptr<TransferGuard> guard;
  // Written by the fetching thread before it finishes; read only once it has.
  bool complete = false;
  std::u16string page;
};

void FetchVersionList(VersionListFetch& fetch) {
  CInternetSession& session = fetch.guard->session();
  // WinINet's own time-outs end most stalls before the deadline does.
  const DWORD timeout = static_cast<DWORD>(kVersionListDeadline.count());
  session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, timeout);
  session.SetOption(INTERNET_OPTION_SEND_TIMEOUT, timeout);
  session.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, timeout);
  const std::unique_ptr<CHttpFile> file =
      session.OpenURL(fetch.url.c_str(), kRequestContext, INTERNET_FLAG_TRANSFER_ASCII);
  std::array<char, 1024> buffer{};
  AnsiPageText text;
  std::size_t total = 0;
  for (;;) {
    const UINT read = file->Read(buffer.data(), static_cast<UINT>(buffer.size()));
    if (read == 0) break;
    fetch.guard->Received(read);
    total += read;
    if (total > kMaxVersionListBytes) return;
    text.Append(std::string_view(buffer.data(), read));
    buffer.fill(0);
  }
  file->Close();
  session.Close();
  fetch.page = text.Take();
  fetch.complete = true;
}

// The fetching thread's routine: `parameter` is a shared_ptr to the fetch, made with new.
DWORD FetchThread(void* parameter) {
  const std::unique_ptr<std::shared_ptr<VersionListFetch>> owned(
      static_cast<std::shared_ptr<VersionListFetch>*>(parameter));
  VersionListFetch& fetch = **owned;
  try {
    FetchVersionList(fetch);
  } catch (...) {
    fetch.complete = false;
  }
  fetch.guard->Finish();
  return 0;
}

}  // namespace

int RunUpdateCheck(const std::u16string& versionListUrl, DownloadPlanner& planner,
                   const std::u16string& programDirectory, std::chrono::milliseconds deadline,
                   const std::u16string& agent) {
  try {
    auto fetch = std::make_shared<VersionListFetch>();
    fetch->url = versionListUrl;
    TransferLimits limits;
    limits.deadline = deadline;
    fetch->guard =
        TransferGuard::Make(limits, agent.empty() ? nullptr : agent.c_str(), kSessionContext);
    auto shared = std::make_unique<std::shared_ptr<VersionListFetch>>(fetch);
    if (!CreateThread(&FetchThread, shared.get())) return 0;
    shared.release();  // the fetching thread owns it now
    if (fetch->guard->Watch() != TransferGuard::Verdict::kFinished || !fetch->complete) return 0;
    return PlanDownloads(fetch->page, planner, programDirectory);
  } catch (...) {
    // Whatever failed, nothing is reported; the client starts all the same. Downloads that a
    // failing plan had already started go on by themselves.
    return 0;
  }
}

}  // namespace tarvo
