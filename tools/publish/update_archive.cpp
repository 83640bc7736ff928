#include "publish/update_archive.h"

#include <minizip/zip.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <fstream>
#include <limits>

#include "publish/progress.h"

namespace tarvo::publish {

namespace fs = std::filesystem;

namespace {

// Made by MS-DOS (host 0), zip format 2.0: the launcher then reads the low byte of the
// external attributes as MS-DOS attribute bits.
constexpr uLong kVersionMadeBy = 20;
constexpr uLong kUtf8NamesFlag = 0x0800;
constexpr uLong kAttributeDirectory = 0x10;
constexpr uLong kAttributeArchive = 0x20;

class ZipWriter {
 public:
  explicit ZipWriter(const fs::path& path) : zip_(zipOpen64(path.c_str(), APPEND_STATUS_CREATE)) {
    if (zip_ == nullptr) throw std::runtime_error("cannot create " + path.string());
  }
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;
  ~ZipWriter() {
    if (zip_ != nullptr) zipClose(zip_, nullptr);
  }
  zipFile get() const { return zip_; }
  // Writes the central directory; true when all went well.
  bool Close() {
    const int result = zipClose(zip_, nullptr);
    zip_ = nullptr;
    return result == ZIP_OK;
  }

 private:
  zipFile zip_;
};

// The DOS date and time of `seconds` in local time, within the years DOS can hold.
uLong DosDateTime(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr || local.tm_year < 80) {
    return (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
  }
  const uLong year = static_cast<uLong>(std::min(local.tm_year - 80, 127));
  return (year << 25) | (static_cast<uLong>(local.tm_mon + 1) << 21) |
         (static_cast<uLong>(local.tm_mday) << 16) | (static_cast<uLong>(local.tm_hour) << 11) |
         (static_cast<uLong>(local.tm_min) << 5) | (static_cast<uLong>(local.tm_sec / 2));
}

// An extended-timestamp block ("UT") holding the modification time only, in the same form for
// the local header and the central directory.
std::array<unsigned char, 9> TimestampBlock(std::int64_t seconds) {
  const auto clamped = static_cast<std::uint32_t>(static_cast<std::int32_t>(
      std::clamp<std::int64_t>(seconds, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max())));
  return {0x55,
          0x54,
          5,
          0,
          0x01,
          static_cast<unsigned char>(clamped),
          static_cast<unsigned char>(clamped >> 8),
          static_cast<unsigned char>(clamped >> 16),
          static_cast<unsigned char>(clamped >> 24)};
}

void CheckSize(const fs::path& path) {
  if (fs::file_size(path) > kMaxArchiveBytes) {
    throw ArchiveTooLarge("the archive would be larger than " + std::to_string(kMaxArchiveBytes) +
                          " bytes, which players' launchers cannot download; publish the "
                          "change in smaller steps");
  }
}

void AddItem(ZipWriter& zip, const TreeNode& item, Progress& progress) {
  const bool folder = item.kind == NodeKind::kDirectory;
  const std::string name = folder ? item.name + "/" : item.name;
  zip_fileinfo info{};
  info.dosDate = DosDateTime(item.modified);
  info.external_fa = folder ? kAttributeDirectory : kAttributeArchive;
  const auto timestamp = TimestampBlock(item.modified);
  const int opened = zipOpenNewFileInZip4_64(
      zip.get(), name.c_str(), &info, timestamp.data(), timestamp.size(), timestamp.data(),
      timestamp.size(), nullptr, folder ? 0 : Z_DEFLATED, folder ? 0 : Z_DEFAULT_COMPRESSION, 0,
      -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, kVersionMadeBy, kUtf8NamesFlag, 0);
  if (opened != ZIP_OK) throw std::runtime_error("cannot add " + name + " to the archive");

  if (!folder) {
    std::ifstream in(item.path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + item.path.string());
    std::vector<char> buffer(1 << 16);
    while (in) {
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      const auto count = static_cast<unsigned>(in.gcount());
      if (in.bad()) throw std::runtime_error("cannot read " + item.path.string());
      if (count > 0 && zipWriteInFileInZip(zip.get(), buffer.data(), count) != ZIP_OK) {
        throw std::runtime_error("cannot write the archive");
      }
      progress.Advance(count, false);
    }
  }
  if (zipCloseFileInZip(zip.get()) != ZIP_OK) {
    throw std::runtime_error("cannot write the archive");
  }
  progress.Advance(0, true);
}

}  // namespace

void WriteUpdateArchive(const fs::path& path, const std::vector<TreeNode>& items,
                        std::ostream& progressOut) {
  std::uint64_t bytes = 0;
  for (const TreeNode& item : items) bytes += item.size;
  Progress progress(progressOut, "archiving", items.size(), bytes);

  ZipWriter zip(path);
  for (const TreeNode& item : items) {
    AddItem(zip, item, progress);
    CheckSize(path);
  }
  if (!zip.Close()) throw std::runtime_error("cannot write the archive");
  CheckSize(path);
}

}  // namespace tarvo::publish
