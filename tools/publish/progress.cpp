#include "publish/progress.h"

#include <utility>

namespace tarvo::publish {

Progress::Progress(std::ostream& out, std::string what, std::uint64_t totalFiles,
                   std::uint64_t totalBytes, Clock clock)
    : out_(out),
      what_(std::move(what)),
      totalFiles_(totalFiles),
      totalBytes_(totalBytes),
      clock_(std::move(clock)),
      timeAtLine_(clock_()) {}

void Progress::Advance(std::uint64_t bytes, bool fileDone) {
  bytes_ += bytes;
  if (fileDone) ++files_;
  const auto now = clock_();
  if (files_ - filesAtLine_ < kFilesPerLine && bytes_ - bytesAtLine_ < kBytesPerLine &&
      now - timeAtLine_ < kTimePerLine) {
    return;
  }
  filesAtLine_ = files_;
  bytesAtLine_ = bytes_;
  timeAtLine_ = now;
  out_ << what_ << ": " << files_ << " of " << totalFiles_ << " files, " << (bytes_ >> 20) << " of "
       << (totalBytes_ >> 20) << " MiB" << std::endl;
}

}  // namespace tarvo::publish
