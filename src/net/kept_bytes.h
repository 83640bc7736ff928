#pragma once
// The bytes of a transfer as they arrive, and those of one that ended early, kept beside the
// destination so that the next start continues from them instead of from byte 0.
//
// One pair of files per destination: "<destination>.kept" holds the body's first bytes, and
// "<destination>.kept-info" the validator the server gave for them and the length it announced
// (or that the whole body arrived and was refused). Neither name matches the installer's
// "*.zip" search, nor "*.part". Only the launcher that holds the ".kept" file (CFile's
// shareExclusive) reads, writes or deletes either of them.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/stream_tail.h"
#include "net/transfer_guard.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "unzip/archive_signature.h"
#include "unzip/zip_stream_check.h"

namespace tarvo {

inline constexpr std::u16string_view kKeptSuffix = u".kept";
inline constexpr std::u16string_view kKeptInfoSuffix = u".kept-info";

// The two files of `destination`.
std::u16string KeptBytesPath(const std::u16string& destination);
std::u16string KeptInfoPath(const std::u16string& destination);

// What identifies one version of a file on the server: a strong ETag, else Last-Modified.
struct Validator {
  bool etag = false;  // an ETag; else a Last-Modified date
  std::string value;  // as the server sent it: printable ASCII, never a line break
  bool operator==(const Validator&) const = default;
};

// The validator of a response from its ETag and Last-Modified headers (empty when absent): a
// strong ETag (not "W/"), else Last-Modified, else nothing. A value that is not printable ASCII
// or longer than 200 characters counts as absent: it could not be sent back as it came.
std::optional<Validator> ChooseValidator(std::u16string_view etag,
                                         std::u16string_view lastModified);

// The record beside the kept bytes.
struct KeptRecord {
  Validator validator;
  std::uint64_t length = 0;  // the whole body's announced length, at least 1
  bool refused = false;      // the whole body arrived and was not stored: nothing is kept
  bool operator==(const KeptRecord&) const = default;
};

// The record as its file holds it, and back; nothing for text that is not exactly such a record.
std::string FormatKeptRecord(const KeptRecord& record);
std::optional<KeptRecord> ParseKeptRecord(std::string_view text);

// True when `contentRange` is exactly "bytes FROM-(LENGTH-1)/LENGTH": the rest of a body of
// `length` bytes from byte `from` on.
bool ContentRangeIs(std::u16string_view contentRange, std::uint64_t from, std::uint64_t length);

// Request header lines that ask for the body from byte `from` on, unless it is no longer the
// version `validator` names (then the whole body comes with 200).
std::u16string ResumeHeaders(std::uint64_t from, const Validator& validator);
// Request header lines that ask for the body only when it is no longer that version (else 304).
std::u16string ChangedHeaders(const Validator& validator);

// The body of one destination as it arrives, in its kept file, held by this transfer alone from
// its start to its end. Every byte in the file was received, and the bytes go through the
// checks of an archive (its items, and its signature with a key) as they are written. What
// becomes of them when the object goes: moved over the destination (Commit), kept for the next
// start (a record names their version; they are put on the disk first), or deleted.
class PartialArchive {
 public:
  // Opens the kept file, made when missing; a link or folder in its place is not followed or
  // used. Throws CFileException, with ERROR_SHARING_VIOLATION when another running launcher
  // holds it. A body with its own check (`accept`, given the complete file's path) is no
  // archive: no key applies to it, and its items are not checked.
  PartialArchive(const std::u16string& destination, const std::optional<PublicKey>& key,
                 std::function<bool(const std::u16string&)> accept = nullptr);
  PartialArchive(const PartialArchive&) = delete;
  PartialArchive& operator=(const PartialArchive&) = delete;
  ~PartialArchive();

  // What the kept file's record says, when it names this transfer's bytes.
  const std::optional<KeptRecord>& record() const { return record_; }
  // The bytes kept, once the constructor has checked them.
  std::uint64_t kept() const { return written_; }

  // Drops what is kept and begins the body anew, kept for later under `record` (when given).
  void StartOver(const std::optional<KeptRecord>& record);

  // Continues the kept bytes: they go through the checks first, read back from disk, and the
  // body's rest follows them. `guard` hears of the bytes read back, as the transfer's progress.
  // False when they are found damaged: then they are dropped, and the body starts anew.
  bool Resume(TransferGuard& guard);

  // Reads at most `count` body bytes from `body` into the block being filled; the count read (0
  // at the end of the body). A read that fails adds nothing.
  UINT ReadFrom(CHttpFile& body, UINT count);

  // True once the bytes so far cannot make a whole archive (an item's data does not give what
  // its local header says). Any thread.
  bool Damaged() const { return items_ && items_->Damaged(); }

  // Writes what is kept and checks that the file is a zip archive that the installer reads
  // whole (ZipCheckArchive, with what the check saw of the items as they went by), and signed
  // when a key is given; or, for a body that is no archive, that its check accepts it. False
  // when it is not.
  bool Complete();

  // Closes the file and moves it over the destination; false when the move fails. The bytes
  // reach the disk before the name that says the archive is whole, and then the name.
  bool Commit();

  // The whole body arrived, or enough of it to tell, and is not to be stored. Fetched from its
  // first byte in this transfer, the refusal is remembered for its version; bytes joined to kept
  // ones may have been spoiled on disk before, so then nothing is remembered and the next start
  // begins anew.
  void Refuse();

  // Deletes the kept bytes and their record.
  void Drop();

 private:
  std::optional<KeptRecord> ReadRecord();
  void WriteRecord(const KeptRecord& record);
  void Restart();
  // Writes the block and hands it on; the next block starts empty.
  void Flush();

  std::u16string destination_;
  std::optional<PublicKey> key_;
  std::function<bool(const std::u16string&)> accept_;
  std::u16string path_;
  std::u16string infoPath_;
  CFile file_;
  StreamTail::Block block_;
  std::unique_ptr<ZipStreamCheck> items_;  // none for a body that is no archive
  std::unique_ptr<ArchiveStream> stream_;  // after items_, which it uses
  std::optional<KeptRecord> record_;       // the version the kept bytes are of; none: not kept
  std::uint64_t written_ = 0;              // bytes in the file, all of them written whole
  bool resumed_ = false;                   // this transfer joined its bytes to kept ones
  bool failed_ = false;
  bool committed_ = false;
};

// True when another running launcher holds the kept bytes of `destination`.
bool KeptBytesHeld(const std::u16string& destination);

// Deletes the kept bytes of `destination` and their record, unless another running launcher
// holds them; true when nothing of them is left.
bool DeleteKeptBytes(const std::u16string& destination);

}  // namespace tarvo
