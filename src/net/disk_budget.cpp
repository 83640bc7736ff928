#include "net/disk_budget.h"

#include <algorithm>

#include "platform/files.h"

namespace tarvo {

DiskBudget::Claim::Claim(std::shared_ptr<DiskBudget> budget, std::uint64_t bytes)
    : m_budget(std::move(budget)), m_left(bytes) {}

DiskBudget::Claim::~Claim() { Wrote(m_left); }

void DiskBudget::Claim::Wrote(std::uint64_t bytes) {
  bytes = std::min(bytes, m_left);
  m_left -= bytes;
  const std::lock_guard<std::mutex> lock(m_budget->m_mutex);
  m_budget->m_claimed -= bytes;
}

std::unique_ptr<DiskBudget::Claim> DiskBudget::Take(const std::u16string& destination,
                                                    std::uint64_t bytes) {
  const std::size_t separator = destination.find_last_of(u"\\/");
  const std::u16string folder =
      separator == std::u16string::npos ? u"." : destination.substr(0, separator + 1);
  const std::lock_guard<std::mutex> lock(m_mutex);
  std::uint64_t available = 0;
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available)) return nullptr;
  const std::uint64_t others = std::min(m_claimed, available);
  available -= others;
  if (available < bytes || available - bytes < kDiskReserve) return nullptr;
  m_claimed += bytes;
  return std::make_unique<Claim>(shared_from_this(), bytes);
}

}  // namespace tarvo
