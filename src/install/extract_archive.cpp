#include "install/extract_archive.h"

#include "app/program_paths.h"
#include "platform/files.h"
#include "unzip/zip_archive.h"

namespace tarvo {

void ExtractArchiveToProgramDir(const std::u16string& archivePath) {
  ExtractArchiveToProgramDir(archivePath, GetProgramDirectory());
}

void ExtractArchiveToProgramDir(const std::u16string& archivePath,
                                const std::u16string& programDirectory) {
  // A current directory deeper than the usual buffer is still restored: the size the system asks
  // for is taken instead of a silent failure that would leave the program directory current.
  std::u16string saved(1024, u'\0');
  DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(saved.size()), saved.data());
  if (length >= saved.size()) {
    saved.assign(length, u'\0');
    length = GetCurrentDirectoryW(static_cast<DWORD>(saved.size()), saved.data());
  }
  saved.resize(length < saved.size() ? length : 0);
  // The zip reader takes the current directory at opening as the root it extracts under.
  SetCurrentDirectoryW(programDirectory.c_str());

  const ZipHandle archive = ZipOpenArchive(archivePath.c_str());
  ZipItem item{};
  ZipGetItem(archive, -1, &item);
  const std::int32_t count = item.index;
  for (std::int32_t i = 0; i < count; ++i) {
    item.index = 0;
    item.name[0] = 0;
    item.uncompressedSize = 0;
    ZipGetItem(archive, i, &item);
    ZipExtractItem(archive, i, item.name);
  }
  ZipCloseArchive(archive);

  SetCurrentDirectoryW(saved.c_str());
}

}  // namespace tarvo
