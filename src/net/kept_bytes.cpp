#include "net/kept_bytes.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "common/decimal.h"
#include "common/utf.h"
#include "unzip/zip_archive.h"

namespace tarvo {

namespace {

constexpr std::string_view kRecordHead = "TARVO-KEPT-1\n";
constexpr std::string_view kRecordEnd = "end\n";
constexpr std::size_t kMaxValidator = 200;
// Pieces go to disk in blocks of this size: fewer, larger writes.
constexpr std::size_t kWriteBlock = 64 * 1024;
// The most one read adds to a block.
constexpr std::size_t kMaxReadPiece = 64 * 1024;
// Kept files are never reached through a link.
constexpr UINT kKeptFileMode = CFile::modeNoFollow;

bool IsDiskFull(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
         error == ERROR_DISK_QUOTA_EXCEEDED;
}

// Printable ASCII with no line break, as a header value can be sent back.
std::optional<std::string> HeaderValue(std::u16string_view text) {
  if (text.empty() || text.size() > kMaxValidator) return std::nullopt;
  std::string value;
  for (const char16_t c : text) {
    if (c < 0x20 || c > 0x7E) return std::nullopt;
    value += static_cast<char>(c);
  }
  return value;
}

// Decimal digits only, no sign, no white space, no leading zero.
std::optional<std::uint64_t> ParseCount(std::string_view text) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::u16string Count(std::uint64_t value) {
  return FormatDecimal(static_cast<std::int64_t>(value));
}

}  // namespace

std::u16string KeptBytesPath(const std::u16string& destination) {
  return destination + std::u16string(kKeptSuffix);
}

std::u16string KeptInfoPath(const std::u16string& destination) {
  return destination + std::u16string(kKeptInfoSuffix);
}

std::optional<Validator> ChooseValidator(std::u16string_view etag,
                                         std::u16string_view lastModified) {
  // A weak ETag may name bytes that differ: it cannot join two transfers.
  if (!etag.empty() && etag.substr(0, 2) != u"W/") {
    if (auto value = HeaderValue(etag)) return Validator{true, std::move(*value)};
  }
  if (auto value = HeaderValue(lastModified)) return Validator{false, std::move(*value)};
  return std::nullopt;
}

std::string FormatKeptRecord(const KeptRecord& record) {
  std::string text(kRecordHead);
  text += "length=" + std::to_string(record.length) + "\n";
  text += (record.validator.etag ? "etag=" : "last-modified=") + record.validator.value + "\n";
  if (record.refused) text += "refused\n";
  // A record cut short at a line's end is not taken for a shorter one.
  text += kRecordEnd;
  return text;
}

std::optional<KeptRecord> ParseKeptRecord(std::string_view text) {
  if (text.size() < kRecordHead.size() + kRecordEnd.size() ||
      text.substr(0, kRecordHead.size()) != kRecordHead ||
      text.substr(text.size() - kRecordEnd.size()) != kRecordEnd) {
    return std::nullopt;
  }
  text = text.substr(kRecordHead.size(), text.size() - kRecordHead.size() - kRecordEnd.size());
  KeptRecord record;
  bool hasLength = false;
  bool hasValidator = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const std::size_t equals = line.find('=');
    const std::string_view key = line.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
    if (key == "length" && !hasLength) {
      const auto length = ParseCount(value);
      if (!length || *length == 0 ||
          *length > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::nullopt;
      }
      record.length = *length;
      hasLength = true;
    } else if ((key == "etag" || key == "last-modified") && !hasValidator) {
      const auto chosen = key == "etag" ? ChooseValidator(Utf8ToUtf16(value), u"")
                                        : ChooseValidator(u"", Utf8ToUtf16(value));
      if (!chosen || chosen->value != value) return std::nullopt;
      record.validator = *chosen;
      hasValidator = true;
    } else if (line == "refused" && !record.refused) {
      record.refused = true;
    } else {
      return std::nullopt;
    }
  }
  if (!hasLength || !hasValidator) return std::nullopt;
  return record;
}

bool ContentRangeIs(std::u16string_view contentRange, std::uint64_t from, std::uint64_t length) {
  if (from >= length) return false;
  return contentRange == u"bytes " + Count(from) + u"-" + Count(length - 1) + u"/" + Count(length);
}

std::u16string ResumeHeaders(std::uint64_t from, const Validator& validator) {
  return u"Range: bytes=" + Count(from) + u"-\r\nIf-Range: " + Utf8ToUtf16(validator.value) +
         u"\r\n";
}

std::u16string ChangedHeaders(const Validator& validator) {
  return (validator.etag ? u"If-None-Match: " : u"If-Modified-Since: ") +
         Utf8ToUtf16(validator.value) + u"\r\n";
}

PartialArchive::PartialArchive(const std::u16string& destination,
                               const std::optional<PublicKey>& key,
                               std::function<bool(const std::u16string&)> accept)
    : destination_(destination),
      key_(accept ? std::nullopt : key),
      accept_(std::move(accept)),
      path_(KeptBytesPath(destination)),
      infoPath_(KeptInfoPath(destination)),
      file_(path_.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite |
                               CFile::shareExclusive | kKeptFileMode) {
  Restart();
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

PartialArchive::~PartialArchive() {
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
      // On the disk before the next start counts them by the file's length.
      file_.Flush();
      file_.Close();
      return;
    } catch (const CException&) {
      // Bytes that cannot be told apart from damaged ones are not kept.
    }
  }
  Drop();
}

void PartialArchive::Restart() {
  stream_.reset();
  if (!accept_) items_ = std::make_unique<ZipStreamCheck>();
  stream_ = std::make_unique<ArchiveStream>(
      key_ ? ArchiveStream::Hashing::kConcurrently : ArchiveStream::Hashing::kNone,
      SignedVersionsOfFile(destination_), items_.get());
  block_ = StreamTail::Block();
  block_.reserve(kWriteBlock + kMaxReadPiece);
}

void PartialArchive::StartOver(const std::optional<KeptRecord>& record) {
  record_.reset();
  DeleteFileW(infoPath_.c_str());
  file_.SetLength(0);
  file_.Seek(0, CFile::begin);
  written_ = 0;
  resumed_ = false;
  Restart();
  if (record) WriteRecord(*record);
  record_ = record;
}

bool PartialArchive::Resume(TransferGuard& guard) {
  try {
    file_.Seek(0, CFile::begin);
    for (std::uint64_t left = written_; left > 0;) {
      StreamTail::Block block(static_cast<std::size_t>(std::min<std::uint64_t>(left, kWriteBlock)));
      const UINT got = file_.Read(block.data(), static_cast<UINT>(block.size()));
      if (got == 0) throw CFileException(ERROR_READ_FAULT);
      block.resize(got);
      stream_->Append(std::move(block));
      guard.Received(got);
      left -= got;
    }
    resumed_ = true;
    if (!Damaged()) return true;
  } catch (const CFileException&) {
    // Bytes that cannot be read back are no better than damaged ones.
  }
  StartOver(std::nullopt);
  return false;
}

UINT PartialArchive::ReadFrom(CHttpFile& body, UINT count) {
  count = std::min<UINT>(count, kMaxReadPiece);
  const std::size_t used = block_.size();
  block_.resize(used + count);
  UINT got = 0;
  try {
    got = body.Read(block_.data() + used, count);
  } catch (...) {
    block_.resize(used);  // nothing of a failed read is kept
    throw;
  }
  block_.resize(used + std::min(got, count));
  if (block_.size() >= kWriteBlock) Flush();
  return got;
}

bool PartialArchive::Complete() {
  Flush();
  const std::optional<ArchiveStream::Ending> ending = stream_->Finish();
  if ((!ending && !accept_) || Damaged()) return false;
  // Read back with the installer's own reading; Windows lets no reader share the file with
  // its writer, so it is flushed and closed first.
  file_.Flush();
  file_.Close();
  const bool readable = accept_ ? accept_(path_) : ZipCheckArchive(path_.c_str(), items_.get());
  // Held again at once, as a refusal is written into it. Should another launcher have taken
  // it meanwhile, the file is its own now and is left alone.
  if (!file_.Open(path_.c_str(), CFile::modeReadWrite | CFile::shareExclusive | kKeptFileMode)) {
    committed_ = true;
    return false;
  }
  if (!readable) return false;
  return accept_ || !key_ || VerifyEnding(*ending, *key_);
}

bool PartialArchive::Commit() {
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

void PartialArchive::Refuse() {
  if (!resumed_ && record_) {
    KeptRecord refused = *record_;
    refused.refused = true;
    StartOver(refused);
  } else {
    StartOver(std::nullopt);
  }
}

void PartialArchive::Drop() {
  record_.reset();
  DeleteFileW(infoPath_.c_str());
  if (!file_.IsOpen()) {
    DeleteFileW(path_.c_str());
  } else if (!file_.Delete()) {
    // Held no longer, it is emptied by the next start that opens it without a record.
  }
  committed_ = true;  // nothing is left to keep
}

std::optional<KeptRecord> PartialArchive::ReadRecord() {
  CFile info;
  if (!info.Open(infoPath_.c_str(), CFile::modeRead | kKeptFileMode)) return std::nullopt;
  char text[1024];
  UINT size = 0;
  while (size < sizeof(text)) {
    const UINT got = info.Read(text + size, static_cast<UINT>(sizeof(text) - size));
    if (got == 0) break;
    size += got;
  }
  return ParseKeptRecord(std::string_view(text, size));
}

void PartialArchive::WriteRecord(const KeptRecord& record) {
  const std::string text = FormatKeptRecord(record);
  CFile info(infoPath_.c_str(), CFile::modeCreate | CFile::modeWrite | kKeptFileMode);
  info.Write(text.data(), static_cast<UINT>(text.size()));
  info.Close();
}

void PartialArchive::Flush() {
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
  block_.reserve(kWriteBlock + kMaxReadPiece);
}

bool KeptBytesHeld(const std::u16string& destination) {
  CFile kept;
  if (kept.Open(KeptBytesPath(destination).c_str(),
                CFile::modeRead | CFile::shareExclusive | kKeptFileMode)) {
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

bool DeleteKeptBytes(const std::u16string& destination) {
  const std::u16string info = KeptInfoPath(destination);
  CFile kept;
  if (!kept.Open(KeptBytesPath(destination).c_str(),
                 CFile::modeReadWrite | CFile::shareExclusive | kKeptFileMode)) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
    // A record without its bytes, or nothing at all.
    return DeleteFileW(info.c_str()) || !PathFileExistsW(info.c_str());
  }
  // The record first: while the bytes are held, nobody else reads or writes it.
  DeleteFileW(info.c_str());
  return kept.Delete();
}

}  // namespace tarvo
