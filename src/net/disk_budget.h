#pragma once
// The disk space that the transfers of one launcher take together: a transfer starts only when
// the volume of its destination keeps kDiskReserve free after what it and every other running
// transfer of the launcher still have to write.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace tarvo {

// What transfers leave free on the volume of their destinations, for the game's saves and logs.
inline constexpr std::uint64_t kDiskReserve = std::uint64_t{256} << 20;

class DiskBudget : public std::enable_shared_from_this<DiskBudget> {
 public:
  // What one transfer still has to write; released when it goes.
  class Claim {
   public:
    Claim(std::shared_ptr<DiskBudget> budget, std::uint64_t bytes);
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;
    ~Claim();
    // `bytes` of the claim were written (they now show in the volume's free space).
    void Wrote(std::uint64_t bytes);

   private:
    std::shared_ptr<DiskBudget> m_budget;
    std::uint64_t m_left;
  };

  // Claims `bytes` for a file in the folder of `destination` when the volume keeps kDiskReserve
  // free after them and after what the other claims still have to write. Null when it would
  // not, or the free space cannot be had. Any thread.
  std::unique_ptr<Claim> Take(const std::u16string& destination, std::uint64_t bytes);

 private:
  std::mutex m_mutex;
  std::uint64_t m_claimed = 0;  // still to be written by the claims out
};

}  // namespace tarvo
