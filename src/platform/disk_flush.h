#pragma once
// The calls that put an installation's new files on the disk before anything records them, behind
// one small interface: a test sees where they are made, and a launcher built to measure what they
// cost leaves them out.

#include <string>

#include "platform/output_file.h"

namespace tarvo {

class CDiskFlush {
 public:
  virtual ~CDiskFlush() = default;

  // Flushes one extracted file, complete and still open at `path` (COutputFile::Flush). False
  // when the system reports a failure.
  virtual bool FlushOutputFile(COutputFile& file, const std::u16string& path) const;
  // Puts on the disk every file extracted and renamed under `folder` since the last call, with
  // the renames (FlushFileSystem). False when the system reports a failure.
  virtual bool FlushExtracted(const std::u16string& folder) const;
};

// The platform's flushing: what every launcher that ships uses.
const CDiskFlush& PlatformDiskFlush();

// No flushing at all, for measuring what the flushing costs; files are still complete on
// closing, but a power cut may lose what the system had not yet written.
const CDiskFlush& NoDiskFlush();

}  // namespace tarvo
