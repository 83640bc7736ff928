#include "unzip/archive_signature.h"

#include <sodium.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "common/decimal.h"
#include "common/utf.h"
#include "platform/files.h"

namespace tarvo {

namespace {

constexpr std::size_t kSignatureSize = crypto_sign_BYTES;
// The end record's bytes before its comment length field, which the hash covers.
constexpr std::size_t kSignedEndRecordBytes = 20;
// Blocks handed to the hashing thread that may wait for it.
constexpr std::size_t kMaxWaitingBlocks = 8;
// Bytes read at once when a file is checked.
constexpr std::uint32_t kFileReadBlock = 1 << 20;

bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

}  // namespace

bool IsSignedVersions(std::string_view versions) {
  return versions.size() == kSignedVersionsSize &&
         std::all_of(versions.begin(), versions.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string SignedVersionsOfFile(std::u16string_view path) {
  const std::size_t cut = path.find_last_of(u"\\/");
  const std::u16string_view name = path.substr(cut == std::u16string_view::npos ? 0 : cut + 1);
  if (!StartsWithDigits(name, kSignedVersionsSize)) return {};
  return Utf16ToUtf8(name.substr(0, kSignedVersionsSize));
}

std::string EncodeBase64(const unsigned char* bytes, std::size_t size) {
  std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);  // the terminating NUL
  return text;
}

bool DecodeBase64(std::string_view text, unsigned char* out, std::size_t size) {
  std::size_t length = 0;
  const char* end = nullptr;
  return SodiumReady() && !text.empty() &&
         sodium_base642bin(out, size, text.data(), text.size(), nullptr, &length, &end,
                           sodium_base64_VARIANT_ORIGINAL) == 0 &&
         length == size && end == text.data() + text.size() && EncodeBase64(out, size) == text;
}

std::optional<PublicKey> DecodePublicKey(std::string_view base64) {
  PublicKey key;
  if (!DecodeBase64(base64, key.bytes.data(), key.bytes.size())) return std::nullopt;
  return key;
}

std::string SignedStatement(std::string_view versions, const unsigned char (&hash)[64]) {
  std::string statement(kSignedStatementHead);
  statement.append(versions).append("\n");
  statement.append(reinterpret_cast<const char*>(hash), sizeof hash);
  return statement;
}

// The work on the archive's bytes besides keeping its end: the BLAKE2b-512 hash (when
// hashing) and the check of the items (when given), here or on a thread of its own.
class ArchiveStream::Worker {
 public:
  Worker(bool hashing, ZipStreamCheck* items, bool concurrently)
      : hashing_(hashing), items_(items) {
    if (hashing_) crypto_generichash_init(&state_, nullptr, 0, crypto_generichash_BYTES_MAX);
    if (!concurrently) return;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (...) {
      // Done where the bytes arrive, then.
    }
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker() { Stop(); }

  void Update(StreamTail::Block block) {
    if (!thread_.joinable()) {
      Add(std::string_view(block.data(), block.size()), block.size());
      return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return waiting_.size() < kMaxWaitingBlocks; });
    waiting_.push_back(std::move(block));
    changed_.notify_all();
  }

  // Takes `last` after everything before it, of which the hash covers the first `hashed`
  // bytes, and gives the digest when hashing.
  void Final(std::string_view last, std::size_t hashed, unsigned char (&digest)[64]) {
    Stop();
    Add(last, hashed);
    if (hashing_) crypto_generichash_final(&state_, digest, sizeof digest);
  }

 private:
  void Add(std::string_view bytes, std::size_t hashed) {
    if (hashing_) {
      crypto_generichash_update(&state_, reinterpret_cast<const unsigned char*>(bytes.data()),
                                std::min(hashed, bytes.size()));
    }
    if (items_ != nullptr) items_->Append(bytes);
  }

  void Run() {
    for (;;) {
      StreamTail::Block block;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !waiting_.empty() || stopping_; });
        if (waiting_.empty()) return;
        block = std::move(waiting_.front());
        waiting_.pop_front();
      }
      changed_.notify_all();
      Add(std::string_view(block.data(), block.size()), block.size());
    }
  }

  // Waits until every block handed over is taken, and ends the thread.
  void Stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  const bool hashing_;
  ZipStreamCheck* const items_;
  crypto_generichash_state state_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<StreamTail::Block> waiting_;
  bool stopping_ = false;
  std::thread thread_;  // last: it goes first
};

ArchiveStream::ArchiveStream(Hashing hashing, std::string_view versions, ZipStreamCheck* items)
    : m_versions(versions), m_hashing(hashing != Hashing::kNone), m_tail(kZipTailSize) {
  if (m_hashing || items != nullptr) {
    const bool concurrently = hashing == Hashing::kConcurrently || (!m_hashing && items != nullptr);
    m_worker = std::make_unique<Worker>(m_hashing, items, concurrently);
  }
}

ArchiveStream::~ArchiveStream() = default;

void ArchiveStream::Append(StreamTail::Block block) {
  for (StreamTail::Block& released : m_tail.Push(std::move(block))) {
    if (m_worker) m_worker->Update(std::move(released));
  }
}

void ArchiveStream::Append(std::string_view bytes) {
  Append(StreamTail::Block(bytes.begin(), bytes.end()));
}

bool ArchiveStream::Skip(std::uint64_t count) {
  if (m_worker) return false;
  m_tail.Skip(count);
  return true;
}

std::optional<ArchiveStream::Ending> ArchiveStream::Finish() {
  const std::string tail = m_tail.Bytes();
  const std::uint64_t size = m_tail.total();
  const std::uint64_t tailStart = size - tail.size();
  const std::optional<ZipEndRecord> record = FindZipEndRecord(tail, size);
  unsigned char hash[64];
  if (!record) {
    if (m_worker) m_worker->Final(tail, 0, hash);
    return std::nullopt;
  }
  const std::size_t at = static_cast<std::size_t>(record->position - tailStart);
  Ending ending;
  ending.record = *record;
  ending.signedEnd = record->position + kSignedEndRecordBytes;
  ending.comment = tail.substr(at + kZipEndRecordSize, record->commentLength);
  ending.commentReachesEnd = record->position + kZipEndRecordSize + record->commentLength == size;
  if (m_worker) m_worker->Final(tail, at + kSignedEndRecordBytes, hash);
  if (m_hashing && IsSignedVersions(m_versions)) {
    ending.statement = SignedStatement(m_versions, hash);
  }
  return ending;
}

bool VerifyEnding(const ArchiveStream::Ending& ending, const PublicKey& key) {
  const std::string_view comment = ending.comment;
  if (!SodiumReady() || ending.statement.empty() || !ending.commentReachesEnd ||
      comment.size() != kSignatureCommentSize ||
      comment.substr(0, kSignatureCommentHead.size()) != kSignatureCommentHead) {
    return false;
  }
  unsigned char signature[kSignatureSize];
  if (!DecodeBase64(comment.substr(kSignatureCommentHead.size()), signature, sizeof signature)) {
    return false;
  }
  return crypto_sign_verify_detached(
             signature, reinterpret_cast<const unsigned char*>(ending.statement.data()),
             ending.statement.size(), key.bytes.data()) == 0;
}

bool VerifyArchiveFile(const char16_t* path, const PublicKey& key, std::string_view versions) {
  try {
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite)) return false;
    ArchiveStream stream(ArchiveStream::Hashing::kHere, versions);
    for (;;) {
      StreamTail::Block block(kFileReadBlock);
      const UINT got = file.Read(block.data(), kFileReadBlock);
      if (got == 0) break;
      block.resize(got);
      stream.Append(std::move(block));
    }
    const std::optional<ArchiveStream::Ending> ending = stream.Finish();
    return ending && VerifyEnding(*ending, key);
  } catch (...) {
    return false;
  }
}

}  // namespace tarvo
