#include "net/fetch_archive.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "common/decimal.h"
#include "net/download_pacer.h"
#include "net/kept_bytes.h"
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
// What a transfer leaves free on the volume of its destination, for the game's saves and logs.
constexpr std::uint64_t kDiskReserve = std::uint64_t{256} << 20;
// Pieces go to disk in blocks of this size: fewer, larger writes.
constexpr std::size_t kWriteBlock = 64 * 1024;

bool IsDiskFull(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
         error == ERROR_DISK_QUOTA_EXCEEDED;
}

// The body of one destination as it arrives, in its kept file beside the destination
// (kept_bytes.h), held by this transfer alone from its start to its end. What becomes of the
// bytes when the object goes: moved over the destination (Commit), kept for the next start
// (a record names their version), or deleted.
class PartialArchive {
 public:
  // Opens the kept file, made when missing. Throws CFileException, with
  // ERROR_SHARING_VIOLATION when another running launcher holds it. A body with its own check
  // (`accept`) is no archive, and no key applies to it.
  PartialArchive(const std::u16string& destination, const std::optional<PublicKey>& key,
                 std::function<bool(const std::u16string&)> accept)
      : destination_(destination),
        key_(accept ? std::nullopt : key),
        accept_(std::move(accept)),
        path_(KeptBytesPath(destination)),
        infoPath_(KeptInfoPath(destination)),
        file_(path_.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite |
                                 CFile::shareExclusive),
        stream_(MakeStream()) {
    block_.reserve(kWriteBlock + kReadPiece);
    written_ = file_.GetLength();
    record_ = ReadRecord();
    // A record that does not fit its bytes is no record; bytes without one are not kept.
    if (record_ && (record_->refused ? written_ != 0 : written_ == 0 || written_ > record_->length))
      record_.reset();
    if (!record_ && written_ > 0) StartOver(std::nullopt);
    // A whole body kept (its move failed): its last byte is asked for again, which also tells
    // whether the server still has that version.
    if (record_ && !record_->refused && written_ == record_->length) {
      file_.SetLength(--written_);
    }
  }
  PartialArchive(const PartialArchive&) = delete;
  PartialArchive& operator=(const PartialArchive&) = delete;
  ~PartialArchive() {
    if (committed_) return;
    if (record_ && record_->refused) return;  // remembered, with nothing kept
    if (record_ && !failed_) {
      try {
        Flush();
      } catch (const CException&) {
        // Flush keeps the record when the bytes before the failed block can be counted on.
      }
    }
    if (record_ && written_ > 0) {
      try {
        // Bytes of a block whose write failed part-way are not counted on. (Wine fails even a
        // cut to the same length on a full disk.)
        if (file_.GetLength() > written_) file_.SetLength(written_);
        file_.Close();
        return;
      } catch (const CException&) {
        // Bytes that cannot be told apart from damaged ones are not kept.
      }
    }
    Drop();
  }

  // What the kept file's record says, when it names this transfer's bytes.
  const std::optional<KeptRecord>& record() const { return record_; }
  // The bytes kept, once the constructor has checked them.
  std::uint64_t kept() const { return written_; }

  // Drops what is kept and begins the body anew, kept for later under `record` (when given).
  void StartOver(const std::optional<KeptRecord>& record) {
    record_.reset();
    DeleteFileW(infoPath_.c_str());
    file_.SetLength(0);
    file_.Seek(0, CFile::begin);
    written_ = 0;
    resumed_ = false;
    stream_ = MakeStream();
    if (record) WriteRecord(*record);
    record_ = record;
  }

  // Continues the kept bytes: they go through the zip and signature checks first, read back
  // from disk (without a key only the last ones, which hold the end record once the whole body
  // is there), and the body's rest follows them. `guard` hears of the bytes read back, as the
  // transfer's progress.
  void Resume(TransferGuard& guard) {
    std::uint64_t from = 0;
    if (written_ > kZipTailSize && stream_->Skip(written_ - kZipTailSize)) {
      from = written_ - kZipTailSize;
    }
    file_.Seek(static_cast<std::int64_t>(from), CFile::begin);
    for (std::uint64_t left = written_ - from; left > 0;) {
      StreamTail::Block block(static_cast<std::size_t>(std::min<std::uint64_t>(left, kWriteBlock)));
      const UINT got = file_.Read(block.data(), static_cast<UINT>(block.size()));
      if (got == 0) throw CFileException(ERROR_READ_FAULT);
      block.resize(got);
      stream_->Append(std::move(block));
      guard.Received(got);
      left -= got;
    }
    resumed_ = true;
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
  // and signed when a key is given; or, for a body that is no archive, that its check accepts
  // it. False when it is not.
  bool Complete() {
    Flush();
    const std::optional<ArchiveStream::Ending> ending = stream_->Finish();
    if (!ending && !accept_) return false;
    // Read back with the installer's own reading; Windows lets no reader share the file with
    // its writer, so it is flushed and closed first.
    file_.Flush();
    file_.Close();
    const bool readable = accept_ ? accept_(path_) : ZipCheckArchive(path_.c_str());
    // Held again at once, as a refusal is written into it. Should another launcher have taken
    // it meanwhile, the file is its own now and is left alone.
    if (!file_.Open(path_.c_str(), CFile::modeReadWrite | CFile::shareExclusive)) {
      committed_ = true;
      return false;
    }
    if (!readable) return false;
    return accept_ || !key_ || VerifyEnding(*ending, *key_);
  }

  // Closes the file and moves it over the destination; false when the move fails. The bytes
  // reach the disk before the name that says the archive is whole, and then the name.
  bool Commit() {
    if (file_.IsOpen()) {
      file_.Flush();
      file_.Close();
    }
    committed_ = MoveFileExW(path_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (committed_) {
      DeleteFileW(infoPath_.c_str());
      FlushFolder(destination_.substr(0, destination_.rfind(u'\\') + 1).c_str());
    }
    return committed_;
  }

  // The whole body arrived and is not to be stored. Fetched from its first byte in this
  // transfer, the refusal is remembered for its version; bytes joined to kept ones may have
  // been spoiled on disk before, so then nothing is remembered and the next start begins anew.
  void Refuse() {
    if (!resumed_ && record_) {
      KeptRecord refused = *record_;
      refused.refused = true;
      StartOver(refused);
    } else {
      StartOver(std::nullopt);
    }
  }

  // Deletes the kept bytes and their record.
  void Drop() {
    record_.reset();
    DeleteFileW(infoPath_.c_str());
    if (!file_.IsOpen()) {
      DeleteFileW(path_.c_str());
    } else if (!file_.Delete()) {
      // Held no longer, it is emptied by the next start that opens it without a record.
    }
    committed_ = true;  // nothing is left to keep
  }

 private:
  std::optional<KeptRecord> ReadRecord() {
    CFile info;
    if (!info.Open(infoPath_.c_str(), CFile::modeRead)) return std::nullopt;
    char text[1024];
    UINT size = 0;
    while (size < sizeof(text)) {
      const UINT got = info.Read(text + size, static_cast<UINT>(sizeof(text) - size));
      if (got == 0) break;
      size += got;
    }
    return ParseKeptRecord(std::string_view(text, size));
  }

  void WriteRecord(const KeptRecord& record) {
    const std::string text = FormatKeptRecord(record);
    CFile info(infoPath_.c_str(), CFile::modeCreate | CFile::modeWrite);
    info.Write(text.data(), static_cast<UINT>(text.size()));
    info.Close();
  }

  std::unique_ptr<ArchiveStream> MakeStream() const {
    return std::make_unique<ArchiveStream>(
        key_ ? ArchiveStream::Hashing::kConcurrently : ArchiveStream::Hashing::kNone,
        SignedVersionsOfFile(destination_));
  }

  // Writes the block and hands it on; the next block starts empty.
  void Flush() {
    if (block_.empty()) return;
    try {
      file_.Write(block_.data(), static_cast<UINT>(block_.size()));
    } catch (const CFileException& error) {
      failed_ = true;
      // A full disk keeps what it took; other failures leave bytes that cannot be trusted.
      if (!IsDiskFull(static_cast<DWORD>(error.m_lOsError))) record_.reset();
      throw;
    }
    written_ += block_.size();
    stream_->Append(std::move(block_));
    block_ = StreamTail::Block();
    block_.reserve(kWriteBlock + kReadPiece);
  }

  std::u16string destination_;
  std::optional<PublicKey> key_;
  std::function<bool(const std::u16string&)> accept_;
  std::u16string path_;
  std::u16string infoPath_;
  CFile file_;
  StreamTail::Block block_;
  std::unique_ptr<ArchiveStream> stream_;
  std::optional<KeptRecord> record_;  // the version the kept bytes are of; none: not kept
  std::uint64_t written_ = 0;         // bytes in the file, all of them written whole
  bool resumed_ = false;              // this transfer joined its bytes to kept ones
  bool failed_ = false;
  bool committed_ = false;
};

// True when the volume that holds `destination` keeps kDiskReserve free after `bytes` more.
bool LeavesReserve(const std::u16string& destination, std::uint64_t bytes) {
  const std::size_t separator = destination.find_last_of(u"\\/");
  const std::u16string folder =
      separator == std::u16string::npos ? u"." : destination.substr(0, separator + 1);
  std::uint64_t available = 0;
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available)) return false;
  return available >= bytes && available - bytes >= kDiskReserve;
}

// True when a body of `length` bytes could never be what a download other than an archive is
// to store: it is not read at all.
bool IsTooLong(const DownloadRequest& request, std::uint64_t length) {
  return request.check.accept && length > request.check.maxLength;
}

std::optional<Validator> ResponseValidator(CHttpFile& file) {
  std::u16string etag;
  std::u16string lastModified;
  file.QueryInfo(HTTP_QUERY_ETAG, etag);
  file.QueryInfo(HTTP_QUERY_LAST_MODIFIED, lastModified);
  return ChooseValidator(etag, lastModified);
}

// Fetches the body into `part`, after what it kept; true when it arrived whole and is a zip
// archive.
bool ReceiveArchive(const DownloadRequest& request, TransferGuard& guard,
                    std::unique_ptr<PartialArchive>& part) {
  // Held until the transfer ends: another launcher neither fetches nor touches this one.
  part = std::make_unique<PartialArchive>(request.destination, request.publicKey,
                                          request.check.accept);
  const std::optional<KeptRecord> kept = part->record();
  std::u16string headers;
  if (kept && kept->refused) {
    headers = ChangedHeaders(kept->validator);
  } else if (kept) {
    // Read back before the request, so that the server never waits for it.
    part->Resume(guard);
    headers = ResumeHeaders(part->kept(), kept->validator);
  }

  CInternetSession& session = guard.session();
  session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
  session.SetOption(INTERNET_OPTION_CONNECT_BACKOFF, kConnectBackoffMs);
  session.SetOption(INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries);
  const std::unique_ptr<CHttpFile> file = session.OpenURL(
      request.url.c_str(), kContext, kOpenFlags, headers.empty() ? nullptr : headers.c_str());
  if (!file) return false;

  std::u16string status;
  file->QueryInfo(HTTP_QUERY_STATUS_CODE, status);
  // A body without a usable length could never be stored, so it is not read at all: a server
  // could otherwise keep the worker, and the launcher with it, busy for as long as it liked.
  std::u16string lengthText;
  file->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, lengthText);
  const std::optional<std::uint64_t> length = UsableContentLength(lengthText);
  const std::optional<Validator> validator = ResponseValidator(*file);

  std::uint64_t remaining = 0;
  if (status == u"206" && kept && !kept->refused) {
    // Only the rest of the very bytes kept can be joined to them.
    const std::uint64_t from = part->kept();
    std::u16string range;
    file->QueryInfo(HTTP_QUERY_CONTENT_RANGE, range);
    const bool otherVersion =
        validator && validator->etag == kept->validator.etag && *validator != kept->validator;
    if (!ContentRangeIs(range, from, kept->length) || !length || *length != kept->length - from ||
        otherVersion) {
      part->Drop();
      return false;
    }
    if (!LeavesReserve(request.destination, *length)) return false;
    remaining = *length;
  } else if (status == u"200") {
    // Refused once already, and still the same: not fetched again.
    if (kept && kept->refused && validator == kept->validator) return false;
    // The file changed, or the server does not serve ranges: the body starts over at byte 0.
    part->StartOver(std::nullopt);
    if (!length || IsTooLong(request, *length) || !LeavesReserve(request.destination, *length)) {
      return false;
    }
    if (validator) part->StartOver(KeptRecord{*validator, *length, false});
    remaining = *length;
  } else {
    // 416: what is kept does not fit the file any more. 304 keeps a refusal; anything else
    // ("407" too, as no proxy credentials are ever sent) keeps what is kept for another start.
    if (status == u"416") part->Drop();
    return false;
  }

  while (remaining > 0) {
    const UINT wanted =
        PaceRead(request.pacer, guard,
                 static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, kReadPiece)));
    if (wanted == 0) break;
    const UINT got = part->ReadFrom(*file, wanted);
    if (got == 0 || got > wanted) break;
    guard.Received(got);
    remaining -= got;
  }
  file->Close();
  if (remaining != 0) return false;
  if (part->Complete()) return true;
  part->Refuse();
  return false;
}

}  // namespace

std::optional<std::uint64_t> UsableContentLength(std::u16string_view text) {
  const std::int64_t length = ParseDecimal64(text);
  if (length <= 0 || length == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
  return static_cast<std::uint64_t>(length);
}

FetchOutcome FetchArchive(const DownloadRequest& request, TransferGuard& guard) {
  std::unique_ptr<PartialArchive> part;
  bool complete = false;
  try {
    complete = ReceiveArchive(request, guard, part);
  } catch (...) {
    // A failed transfer, a failed write, exhausted memory, or the kept bytes held by another
    // launcher: nothing is stored.
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
