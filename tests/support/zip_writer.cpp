#include "support/zip_writer.h"

#include <minizip/zip.h>

namespace tarvo::test {

bool WriteZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries,
              bool store) {
  const std::string file = path.string();
  zipFile zip = zipOpen64(file.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) return false;
  bool ok = true;
  for (const ZipEntry& entry : entries) {
    zip_fileinfo info{};
    info.dosDate = 0x5A8D5A2B;  // 2025-04-13 11:17:22
    ok = ok && zipOpenNewFileInZip64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                     nullptr, store ? 0 : Z_DEFLATED,
                                     store ? 0 : Z_DEFAULT_COMPRESSION, 1) == ZIP_OK;
    ok = ok && zipWriteInFileInZip(zip, entry.data.data(),
                                   static_cast<unsigned>(entry.data.size())) == ZIP_OK;
    ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

}  // namespace tarvo::test
