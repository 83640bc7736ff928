#include "net/fetch_archive.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <memory>
#include <vector>

#include "common/decimal.h"
#include "net/download_pacer.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "unzip/zip_archive.h"

namespace tarvo {

namespace {

constexpr DWORD kConnectTimeoutMs = 30000;
constexpr DWORD kConnectBackoffMs = 1000;
constexpr DWORD kConnectRetries = 1;
// Always from the server, never into the platform's cache.
constexpr DWORD kOpenFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_BINARY;
static_assert(kOpenFlags == 0x84000002);
constexpr DWORD kContext = 1;
constexpr UINT kReadPiece = 8192;
// Pieces go to disk in blocks of this size: fewer, larger writes.
constexpr std::size_t kWriteBlock = 64 * 1024;
// Names tried for a part file before giving up.
constexpr int kPartNameAttempts = 16;

// Eight hexadecimal digits that differ from call to call and, through the clock and the
// address of a local, from process to process; a part file is made new, so a name that is
// taken only costs another try.
std::u16string PartSuffix() {
  static std::atomic<std::uint64_t> counter{0};
  const int local = 0;
  std::uint64_t x =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull) ^ reinterpret_cast<std::uintptr_t>(&local);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  std::u16string digits;
  for (int shift = 28; shift >= 0; shift -= 4) digits += u"0123456789ABCDEF"[(x >> shift) & 0xF];
  return digits;
}

// The file that takes the body while it arrives, beside the destination and of its own: no
// other transfer, of this launcher or another, writes it. The pending-archive search ("*.zip")
// never matches its name, so a launcher stopped mid-transfer leaves nothing that the next start
// would install, and the next start deletes it. Deleted unless Commit moved it over the
// destination.
class PartialArchive {
 public:
  PartialArchive(const std::u16string& destination, const std::optional<PublicKey>& key)
      : destination_(destination),
        key_(key),
        stream_(Hashing(key), SignedVersionsOfFile(destination)) {
    block_.reserve(kWriteBlock + kReadPiece);
    for (int attempt = 0; attempt < kPartNameAttempts; ++attempt) {
      path_ = destination + u"." + PartSuffix() + u".part";
      if (file_.Open(path_.c_str(), CFile::modeCreateNew | CFile::modeReadWrite)) return;
    }
    throw CFileException();
  }
  PartialArchive(const PartialArchive&) = delete;
  PartialArchive& operator=(const PartialArchive&) = delete;
  ~PartialArchive() {
    if (committed_) return;
    try {
      file_.Close();
    } catch (const CException&) {
      // Deleted below all the same.
    }
    DeleteFileW(path_.c_str());
  }

  // Reads at most `count` body bytes from `body` straight into the block being filled; the
  // count read (0 at the end of the body).
  UINT ReadFrom(CHttpFile& body, UINT count) {
    const std::size_t used = block_.size();
    block_.resize(used + count);
    const UINT got = body.Read(block_.data() + used, count);
    block_.resize(used + std::min(got, count));
    if (block_.size() >= kWriteBlock) Flush();
    return got;
  }

  // Writes what is kept and checks that the file is a zip archive that the installer can read,
  // and signed when a key is given. False when it is not.
  bool Complete() {
    Flush();
    const std::optional<ArchiveStream::Ending> ending = stream_.Finish();
    if (!ending) return false;
    // Read back with the installer's own reading; Windows lets no reader share the file with
    // its writer, so it is flushed and closed first.
    file_.Flush();
    file_.Close();
    if (!ZipCheckArchive(path_.c_str())) return false;
    return !key_ || VerifyEnding(*ending, *key_);
  }

  // Closes the file and moves it over the destination; false when the move fails. The bytes
  // reach the disk before the name that says the archive is whole, and then the name.
  bool Commit() {
    if (file_.IsOpen()) {
      file_.Flush();
      file_.Close();
    }
    committed_ = MoveFileExW(path_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (committed_) FlushFolder(destination_.substr(0, destination_.rfind(u'\\') + 1).c_str());
    return committed_;
  }

 private:
  static ArchiveStream::Hashing Hashing(const std::optional<PublicKey>& key) {
    return key ? ArchiveStream::Hashing::kConcurrently : ArchiveStream::Hashing::kNone;
  }

  // Writes the block and hands it on; the next block starts empty.
  void Flush() {
    if (block_.empty()) return;
    file_.Write(block_.data(), static_cast<UINT>(block_.size()));
    stream_.Append(std::move(block_));
    block_ = StreamTail::Block();
    block_.reserve(kWriteBlock + kReadPiece);
  }

  std::u16string destination_;
  std::optional<PublicKey> key_;
  std::u16string path_;
  CFile file_;
  StreamTail::Block block_;
  ArchiveStream stream_;
  bool committed_ = false;
};

// Fetches the body into `part`; true when it arrived whole and is a zip archive.
bool ReceiveArchive(const DownloadRequest& request, TransferGuard& guard,
                    std::unique_ptr<PartialArchive>& part) {
  CInternetSession& session = guard.session();
  session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
  session.SetOption(INTERNET_OPTION_CONNECT_BACKOFF, kConnectBackoffMs);
  session.SetOption(INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries);
  const std::unique_ptr<CHttpFile> file =
      session.OpenURL(request.url.c_str(), kContext, kOpenFlags);
  if (!file) return false;

  // Anything but "200" stores nothing; "407" too, as no proxy credentials are ever sent.
  std::u16string status;
  file->QueryInfo(HTTP_QUERY_STATUS_CODE, status);
  if (status != u"200") return false;

  // A body without a usable length could never be stored, so it is not read at all: a server
  // could otherwise keep the worker, and the launcher with it, busy for as long as it liked.
  std::u16string length_text;
  file->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, length_text);
  const std::optional<std::uint32_t> length = UsableContentLength(length_text);
  if (!length) return false;

  part = std::make_unique<PartialArchive>(request.destination, request.publicKey);
  std::uint32_t remaining = *length;
  while (remaining > 0) {
    const UINT wanted =
        PaceRead(request.pacer, guard, std::min<std::uint32_t>(remaining, kReadPiece));
    if (wanted == 0) break;
    const UINT got = part->ReadFrom(*file, wanted);
    if (got == 0 || got > wanted) break;
    guard.Received(got);
    remaining -= got;
  }
  file->Close();
  return remaining == 0 && part->Complete();
}

}  // namespace

std::optional<std::uint32_t> UsableContentLength(std::u16string_view text) {
  const std::int32_t length = ParseDecimal(text);
  if (length <= 0 || length == std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(length);
}

FetchOutcome FetchArchive(const DownloadRequest& request, TransferGuard& guard) {
  std::unique_ptr<PartialArchive> part;
  bool complete = false;
  try {
    complete = ReceiveArchive(request, guard, part);
  } catch (...) {
    // A failed transfer, a failed write or exhausted memory: nothing is stored.
  }
  // A transfer given up meanwhile leaves the destination alone, complete or not.
  if (!guard.Finish()) return FetchOutcome::kGivenUp;
  try {
    if (complete && part->Commit()) return FetchOutcome::kStored;
  } catch (...) {
    // Closing the part file failed: its data may not all be on disk.
  }
  return FetchOutcome::kFailed;
}

bool FetchArchive(const DownloadRequest& request) {
  try {
    const auto guard = TransferGuard::Make(TransferLimits{}, nullptr, kContext);
    return FetchArchive(request, *guard) == FetchOutcome::kStored;
  } catch (...) {
    return false;
  }
}

}  // namespace tarvo
