#include "publish/update_archive.h"

#include <minizip/zip.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <fstream>
#include <limits>
#include <string>

#include "publish/progress.h"
#include "unzip/zip_fields.h"

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

// Whether an item of `size` bytes may need zip64 blocks: its deflated form may grow a little
// beyond it, and a size or offset that reaches 0xFFFFFFFF must be written in them.
bool NeedsZip64(std::uint64_t size) { return compressBound(size) >= 0xFFFFFFFF; }

// minizip writes a zip64 end record only for a central directory that starts past 4 GiB, yet
// marks a count of 65,535 or more as one that defers to it (0xFFFF): readers would find none.
// The record and its locator are put in front of the end record, which stays as it is.
void AddZip64EndRecord(const fs::path& path, std::uint64_t items) {
  if (items < 0xFFFF) return;
  constexpr std::size_t kEndSize = 22, kLocatorSize = 20;
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekg(0, std::ios::end);
  const auto size = static_cast<std::uint64_t>(file.tellg());
  std::string tail(kLocatorSize + kEndSize, '\0');
  if (!file || size < tail.size()) throw std::runtime_error("cannot read the archive back");
  file.seekg(static_cast<std::streamoff>(size - tail.size()));
  file.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  if (!file || tail.compare(kLocatorSize, 4, "PK\x05\x06") != 0) {
    throw std::runtime_error("cannot read the archive back");
  }
  if (tail.compare(0, 4, "PK\x06\x07") == 0) return;  // minizip wrote them
  const std::uint64_t recordAt = size - kEndSize;
  std::string record;
  const auto put = [&record](std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) record.push_back(static_cast<char>(value >> (8 * i)));
  };
  put(0x06064b50, 4);
  put(44, 8);  // the size of what follows
  put(45, 2);  // made by and needed: zip 4.5, which brought zip64
  put(45, 2);
  put(0, 8);  // both disk numbers
  put(items, 8);
  put(items, 8);
  put(ZipLittleEndian(tail.data() + kLocatorSize + 12, 4), 8);  // the directory's size
  put(ZipLittleEndian(tail.data() + kLocatorSize + 16, 4), 8);  // and its offset
  put(0x07064b50, 4);
  put(0, 4);
  put(recordAt, 8);
  put(1, 4);
  record.append(tail, kLocatorSize, kEndSize);
  file.seekp(static_cast<std::streamoff>(recordAt));
  file.write(record.data(), static_cast<std::streamsize>(record.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write the archive");
}

void AddItem(ZipWriter& zip, const TreeNode& item, Progress& progress) {
  const bool folder = item.kind == NodeKind::kDirectory;
  const std::string name = folder ? item.name + "/" : item.name;
  zip_fileinfo info{};
  info.dosDate = DosDateTime(item.modified);
  info.external_fa = folder ? kAttributeDirectory : kAttributeArchive;
  const auto timestamp = TimestampBlock(item.modified);
  const bool zip64 = !folder && NeedsZip64(item.size);
  const int opened = zipOpenNewFileInZip4_64(
      zip.get(), name.c_str(), &info, timestamp.data(), timestamp.size(), timestamp.data(),
      timestamp.size(), nullptr, folder || item.stored ? 0 : Z_DEFLATED,
      folder || item.stored ? 0 : Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
      Z_DEFAULT_STRATEGY, nullptr, 0, kVersionMadeBy, kUtf8NamesFlag, zip64 ? 1 : 0);
  if (opened != ZIP_OK) throw std::runtime_error("cannot add " + name + " to the archive");

  if (!folder) {
    std::ifstream in(item.path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + item.path.string());
    std::vector<char> buffer(1 << 16);
    std::uint64_t read = 0;
    while (in) {
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      const auto count = static_cast<unsigned>(in.gcount());
      if (in.bad()) throw std::runtime_error("cannot read " + item.path.string());
      // Written without zip64 blocks, it could not hold sizes that reach 4 GiB.
      read += count;
      if (!zip64 && NeedsZip64(read)) {
        throw std::runtime_error(item.path.string() + " grew while it was archived");
      }
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
  for (const TreeNode& item : items) AddItem(zip, item, progress);
  if (!zip.Close()) throw std::runtime_error("cannot write the archive");
  AddZip64EndRecord(path, items.size());
}

}  // namespace tarvo::publish
