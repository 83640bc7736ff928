#include "net/kept_bytes.h"

#include <charconv>
#include <limits>

#include "common/decimal.h"
#include "common/utf.h"

namespace tarvo {

namespace {

constexpr std::string_view kRecordHead = "TARVO-KEPT-1\n";
constexpr std::string_view kRecordEnd = "end\n";
constexpr std::size_t kMaxValidator = 200;

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

bool KeptBytesHeld(const std::u16string& destination) {
  CFile kept;
  if (kept.Open(KeptBytesPath(destination).c_str(), CFile::modeRead | CFile::shareExclusive)) {
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

bool DeleteKeptBytes(const std::u16string& destination) {
  const std::u16string info = KeptInfoPath(destination);
  CFile kept;
  if (!kept.Open(KeptBytesPath(destination).c_str(),
                 CFile::modeReadWrite | CFile::shareExclusive)) {
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
