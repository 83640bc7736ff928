#include "platform/disk_flush.h"

#include "platform/files.h"

namespace tarvo {

namespace {

class NoFlush : public CDiskFlush {
 public:
  bool FlushOutputFile(COutputFile&, const std::u16string&) const override { return true; }
  bool FlushExtracted(const std::u16string&) const override { return true; }
};

}  // namespace

bool CDiskFlush::FlushOutputFile(COutputFile& file, const std::u16string&) const {
  return file.Flush();
}

bool CDiskFlush::FlushExtracted(const std::u16string& folder) const {
  return FlushFileSystem(folder.c_str()) != FALSE;
}

const CDiskFlush& PlatformDiskFlush() {
  static const CDiskFlush flush;
  return flush;
}

const CDiskFlush& NoDiskFlush() {
  static const NoFlush flush;
  return flush;
}

}  // namespace tarvo
