#include "publish/progress.h"

#include <utility>

namespace tarvo::publish {

Progress::Progress(std::ostream& out, std::string what, std::uint64_t totalFiles,
                   std::uint64_t totalBytes)
    : out_(out), what_(std::move(what)), totalFiles_(totalFiles), totalBytes_(totalBytes) {}

void Progress::Advance(std::uint64_t bytes, bool fileDone) {
  bytes_ += bytes;
  if (fileDone) ++files_;
  if (files_ - filesAtLine_ < kFilesPerLine && bytes_ - bytesAtLine_ < kBytesPerLine) return;
  filesAtLine_ = files_;
  bytesAtLine_ = bytes_;
  out_ << what_ << ": " << files_ << " of " << totalFiles_ << " files, " << (bytes_ >> 20) << " of "
       << (totalBytes_ >> 20) << " MiB" << std::endl;
}

}  // namespace tarvo::publish
