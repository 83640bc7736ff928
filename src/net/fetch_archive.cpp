#include "net/fetch_archive.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "common/decimal.h"
#include "platform/files.h"
#include "platform/internet.h"

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

// The file that takes the body while it arrives, beside the destination. The pending-archive
// search ("*.zip") never matches its name, so a launcher stopped mid-transfer leaves nothing
// that the next start would install. Deleted unless Commit moved it over the destination.
class PartialArchive {
 public:
  explicit PartialArchive(const std::u16string& destination)
      : destination_(destination),
        path_(destination + u".part"),
        file_(path_.c_str(), CFile::modeCreate | CFile::modeReadWrite) {}
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

  // Keeps the bytes, writing them out in blocks of kWriteBlock.
  void Write(const char* bytes, UINT count) {
    block_.insert(block_.end(), bytes, bytes + count);
    if (block_.size() >= kWriteBlock) Flush();
  }

  // Writes what is kept, closes the file and moves it over the destination; false when the
  // move fails.
  bool Commit() {
    Flush();
    file_.Close();
    committed_ = MoveFileExW(path_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    return committed_;
  }

 private:
  void Flush() {
    if (block_.empty()) return;
    file_.Write(block_.data(), static_cast<UINT>(block_.size()));
    block_.clear();
  }

  std::u16string destination_;
  std::u16string path_;
  CFile file_;
  std::vector<char> block_;
  bool committed_ = false;
};

}  // namespace

std::optional<std::uint32_t> UsableContentLength(std::u16string_view text) {
  const std::int32_t length = ParseDecimal(text);
  if (length <= 0 || length == std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(length);
}

bool FetchArchive(const DownloadRequest& request) {
  try {
    CInternetSession session;
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

    // A body without a usable length could never be stored, so it is not read at all: a
    // server could otherwise keep the worker, and the launcher with it, busy for as long as
    // it liked.
    std::u16string length_text;
    file->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, length_text);
    const std::optional<std::uint32_t> length = UsableContentLength(length_text);
    if (!length) return false;

    PartialArchive part(request.destination);
    std::vector<char> piece(kReadPiece);
    std::uint32_t remaining = *length;
    while (remaining > 0) {
      const UINT wanted = std::min<std::uint32_t>(remaining, kReadPiece);
      const UINT got = file->Read(piece.data(), wanted);
      if (got == 0 || got > wanted) break;
      part.Write(piece.data(), got);
      remaining -= got;
    }
    file->Close();
    session.Close();
    return remaining == 0 && part.Commit();
  } catch (...) {
    // A failed transfer, a failed write or exhausted memory: nothing is stored.
    return false;
  }
}

}  // namespace tarvo
