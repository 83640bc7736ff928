#pragma once
// Progress lines for long runs. Short runs print nothing: a line is written each time another
// 1000 files or 64 MiB have been done, or 3 seconds have passed, since the last one.

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace tarvo::publish {

class Progress {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `what` names the work ("comparing", "archiving"); the totals are what the run will do.
  // `clock` tells the time (the steady clock's).
  Progress(std::ostream& out, std::string what, std::uint64_t totalFiles, std::uint64_t totalBytes,
           Clock clock = &std::chrono::steady_clock::now);

  // Counts `bytes` more of the current file, and the file itself when `fileDone` is set.
  void Advance(std::uint64_t bytes, bool fileDone);

 private:
  static constexpr std::uint64_t kFilesPerLine = 1000;
  static constexpr std::uint64_t kBytesPerLine = std::uint64_t{64} << 20;
  static constexpr std::chrono::seconds kTimePerLine{3};

  std::ostream& out_;
  std::string what_;
  std::uint64_t totalFiles_;
  std::uint64_t totalBytes_;
  Clock clock_;
  std::uint64_t files_ = 0;
  std::uint64_t bytes_ = 0;
  std::uint64_t filesAtLine_ = 0;
  std::uint64_t bytesAtLine_ = 0;
  std::chrono::steady_clock::time_point timeAtLine_;
};

}  // namespace tarvo::publish
