#include "net/download_queue.h"

#include <algorithm>

#include "app/launcher_messages.h"
#include "common/windows_names.h"
#include "net/disk_budget.h"
#include "net/transfer_activity.h"

namespace tarvo {

DownloadQueue::DownloadQueue(const std::optional<PublicKey>& publicKey,
                             std::shared_ptr<DownloadPacer> pacer, std::u16string agent)
    : DownloadQueue(
          [publicKey, pacer, agent, budget = std::make_shared<DiskBudget>(),
           activity = std::make_shared<TransferActivity>(
               kStallLimit, [] { PostToLauncher(WM_DOWNLOADS_STALLED, 0); })](
              const std::u16string& url, const std::u16string& destination,
              const BodyCheck& check) {
            StartDownload(DownloadRequest{url, destination, kDownloadLimits, publicKey, pacer,
                                          budget, activity, agent, check},
                          &CreateThread);
          },
          kMaxTransfers) {}

DownloadQueue::DownloadQueue(Start start, std::size_t maxTransfers)
    : m_start(std::move(start)), m_maxTransfers(std::max<std::size_t>(maxTransfers, 1)) {}

bool DownloadQueue::Add(const std::u16string& url, const std::u16string& destination,
                        BodyCheck check) {
  // StartDownload takes a URL up to its first NUL, and starts nothing for an empty one.
  if (url.empty() || url[0] == u'\0' || m_planned.size() >= kMaxPlannedDownloads) return false;
  std::u16string key = destination;
  std::transform(key.begin(), key.end(), key.begin(), FoldAsciiCase);
  if (!m_planned.insert(std::move(key)).second) return false;
  if (m_running < m_maxTransfers) {
    ++m_running;
    m_start(url, destination, check);
  } else {
    m_waiting.push_back({url, destination, std::move(check)});
  }
  return true;
}

bool DownloadQueue::Ended(bool stored) {
  ++m_ended;
  if (m_running > 0) --m_running;
  if (stored) m_stored = true;
  // Once one is stored the launcher ends; nothing more is started.
  if (!m_stored && !m_waiting.empty()) {
    const Waiting next = std::move(m_waiting.front());
    m_waiting.pop_front();
    ++m_running;
    m_start(next.url, next.destination, next.check);
  }
  return m_stored || m_ended >= m_planned.size();
}

}  // namespace tarvo
