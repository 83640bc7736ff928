#pragma once
// The bytes of a transfer that ended early, kept beside the destination so that the next start
// continues from them instead of from byte 0.
//
// One pair of files per destination: "<destination>.kept" holds the body's first bytes, and
// "<destination>.kept-info" the validator the server gave for them and the length it announced
// (or that the whole body arrived and was refused). Neither name matches the installer's
// "*.zip" search, nor "*.part". Only the launcher that holds the ".kept" file (CFile's
// shareExclusive) reads, writes or deletes either of them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

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

// True when another running launcher holds the kept bytes of `destination`.
bool KeptBytesHeld(const std::u16string& destination);

// Deletes the kept bytes of `destination` and their record, unless another running launcher
// holds them; true when nothing of them is left.
bool DeleteKeptBytes(const std::u16string& destination);

}  // namespace tarvo
