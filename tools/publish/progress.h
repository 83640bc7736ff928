#pragma once
// Progress lines for long runs over large trees. Small runs print nothing: a line is written
// only each time another 1000 files or 64 MiB have been done since the last one.

#include <cstdint>
#include <ostream>
#include <string>

namespace tarvo::publish {

class Progress {
 public:
  // `what` names the work ("comparing", "archiving"); the totals are what the run will do.
  Progress(std::ostream& out, std::string what, std::uint64_t totalFiles, std::uint64_t totalBytes);

  // Counts `bytes` more of the current file, and the file itself when `fileDone` is set.
  void Advance(std::uint64_t bytes, bool fileDone);

 private:
  static constexpr std::uint64_t kFilesPerLine = 1000;
  static constexpr std::uint64_t kBytesPerLine = std::uint64_t{64} << 20;

  std::ostream& out_;
  std::string what_;
  std::uint64_t totalFiles_;
  std::uint64_t totalBytes_;
  std::uint64_t files_ = 0;
  std::uint64_t bytes_ = 0;
  std::uint64_t filesAtLine_ = 0;
  std::uint64_t bytesAtLine_ = 0;
};

}  // namespace tarvo::publish
