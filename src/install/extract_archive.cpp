#include "install/extract_archive.h"

#include "platform/files.h"
#include "unzip/system_failure.h"
#include "unzip/zip_archive.h"

namespace tarvo {

namespace {

// The current directory, however long; restored when the object goes.
class CurrentDirectory {
 public:
  CurrentDirectory() {
    // A current directory deeper than the usual buffer is still restored: the size the system
    // asks for is taken instead of a silent failure that would leave another directory current.
    saved_.assign(1024, u'\0');
    DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(saved_.size()), saved_.data());
    if (length >= saved_.size()) {
      saved_.assign(length, u'\0');
      length = GetCurrentDirectoryW(static_cast<DWORD>(saved_.size()), saved_.data());
    }
    saved_.resize(length < saved_.size() ? length : 0);
  }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;
  ~CurrentDirectory() { SetCurrentDirectoryW(saved_.c_str()); }

 private:
  std::u16string saved_;
};

// Closes the archive however the extraction ends.
struct OpenArchive {
  ZipHandle handle;
  ~OpenArchive() { ZipCloseArchive(handle); }
};

}  // namespace

ArchiveInstall ExtractArchiveToProgramDir(const std::u16string& archivePath,
                                          const std::u16string& programDirectory) {
  // Held open, without letting others write, for the whole extraction: an archive in use by
  // another program is tried again later, one that is not there any more counts as none.
  CFile held;
  if (!held.Open(archivePath.c_str(), CFile::modeRead | CFile::shareDenyWrite)) {
    return IsSystemFailure(GetLastError()) ? ArchiveInstall::kMachineFailed
                                           : ArchiveInstall::kDone;
  }
  const CurrentDirectory restored;
  // The zip reader takes the current directory at opening as the root it extracts under; an
  // archive extracted under any other directory would write outside the installation.
  if (!SetCurrentDirectoryW(programDirectory.c_str())) return ArchiveInstall::kMachineFailed;

  const OpenArchive archive{ZipOpenArchive(archivePath.c_str())};
  ZipItem item{};
  ZipGetItem(archive.handle, -1, &item);
  const std::int32_t count = item.index;
  for (std::int32_t i = 0; i < count; ++i) {
    item.index = 0;
    item.name[0] = 0;
    item.uncompressedSize = 0;
    ZipGetItem(archive.handle, i, &item);
    const ZipResult result = ZipExtractItem(archive.handle, i, item.name);
    if (result == ZIP_ERR_SYSTEM || result == ZIP_ERR_WRITE) return ArchiveInstall::kMachineFailed;
  }
  return ArchiveInstall::kDone;
}

}  // namespace tarvo
