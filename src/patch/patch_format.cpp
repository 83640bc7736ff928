#include "patch/patch_format.h"

#include <algorithm>
#include <cstring>

#include "unzip/zip_fields.h"

namespace tarvo {

namespace {

constexpr std::string_view kFileHashHead = "TARVO-FILE-1\n";

void Put(std::string& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

void Put(std::string& out, const SegmentHash& hash) {
  out.append(reinterpret_cast<const char*>(hash.data()), hash.size());
}

SegmentHash TakeHash(const unsigned char* at) {
  SegmentHash hash;
  std::memcpy(hash.data(), at, hash.size());
  return hash;
}

bool IsZero(const SegmentHash& hash) {
  return std::all_of(hash.begin(), hash.end(), [](unsigned char byte) { return byte == 0; });
}

// A range of `length` bytes from `offset` that lies within a base of `baseSize` bytes.
bool WithinBase(std::uint64_t offset, std::uint64_t length, std::uint64_t baseSize) {
  return length <= baseSize && offset <= baseSize - length;
}

// The rules a record keeps beyond its own fields' ranges, for its kind.
bool IsSoundRecord(const PatchSegment& s, std::uint64_t baseSize) {
  if (s.length == 0 || s.length > kMaxSegmentSize) return false;
  switch (s.kind) {
    case SegmentKind::kCopy:
      return s.baseLength == s.length && s.frameLength == 0 &&
             WithinBase(s.baseOffset, s.baseLength, baseSize) && IsZero(s.baseHash) &&
             IsZero(s.frameHash);
    case SegmentKind::kPatch:
      return s.baseLength != 0 && s.baseLength <= kMaxReferenceSize &&
             WithinBase(s.baseOffset, s.baseLength, baseSize) && s.frameLength != 0 &&
             s.frameLength <= kMaxFrameSize;
    case SegmentKind::kWhole:
      return s.baseOffset == 0 && s.baseLength == 0 && IsZero(s.baseHash) && s.frameLength != 0 &&
             s.frameLength <= kMaxFrameSize;
  }
  return false;
}

}  // namespace

SegmentHash FileHash(std::uint64_t size, const std::vector<PatchSegment>& segments) {
  std::string statement(kFileHashHead);
  statement.reserve(kFileHashHead.size() + 8 + segments.size() * 36);
  Put(statement, size, 8);
  for (const PatchSegment& segment : segments) {
    Put(statement, segment.length, 4);
    Put(statement, segment.hash);
  }
  return HashBytes(statement.data(), statement.size());
}

bool IsStoreUrl(std::string_view url) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  const auto startsWith = [&](std::string_view scheme) {
    return url.size() > scheme.size() && std::equal(scheme.begin(), scheme.end(), url.begin(),
                                                    [&](char a, char b) { return a == lower(b); });
  };
  return url.size() <= kMaxStoreUrlLength && (startsWith("http://") || startsWith("https://")) &&
         url.back() == '/' &&
         std::all_of(url.begin(), url.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

std::optional<PatchHeader> ReadPatchHeader(PatchSource& source) {
  unsigned char head[kPatchHeadSize];
  if (!source.Read(head, sizeof(head)) ||
      std::memcmp(head, kPatchMagic.data(), kPatchMagic.size()) != 0) {
    return std::nullopt;
  }
  PatchHeader header;
  header.baseSize = ZipLittleEndian(head + 8, 8);
  header.size = ZipLittleEndian(head + 16, 8);
  const auto count = static_cast<std::uint32_t>(ZipLittleEndian(head + 24, 4));
  header.fileHash = TakeHash(head + 28);
  const auto urlLength = static_cast<std::size_t>(ZipLittleEndian(head + 60, 2));
  if (count > kMaxSegments || (count == 0) != (header.size == 0) ||
      urlLength > kMaxStoreUrlLength) {
    return std::nullopt;
  }
  header.storeUrl.resize(urlLength);
  if (!source.Read(header.storeUrl.data(), urlLength) || !IsStoreUrl(header.storeUrl)) {
    return std::nullopt;
  }

  header.segments.reserve(count);
  std::uint64_t total = 0;
  unsigned char record[kSegmentRecordSize];
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!source.Read(record, sizeof(record))) return std::nullopt;
    PatchSegment segment;
    segment.kind = static_cast<SegmentKind>(record[0]);
    segment.length = static_cast<std::uint32_t>(ZipLittleEndian(record + 4, 4));
    segment.baseOffset = ZipLittleEndian(record + 8, 8);
    segment.baseLength = static_cast<std::uint32_t>(ZipLittleEndian(record + 16, 4));
    segment.frameLength = static_cast<std::uint32_t>(ZipLittleEndian(record + 20, 4));
    segment.hash = TakeHash(record + 24);
    segment.baseHash = TakeHash(record + 56);
    segment.frameHash = TakeHash(record + 88);
    // Counted segments of at most 16 MiB cannot overflow the total.
    total += segment.length;
    if (record[1] != 0 || record[2] != 0 || record[3] != 0 ||
        !IsSoundRecord(segment, header.baseSize) || total > header.size) {
      return std::nullopt;
    }
    header.segments.push_back(segment);
  }
  if (total != header.size || FileHash(header.size, header.segments) != header.fileHash) {
    return std::nullopt;
  }
  return header;
}

std::string FormatPatchHeader(const PatchHeader& header) {
  std::string out(kPatchMagic);
  Put(out, header.baseSize, 8);
  Put(out, header.size, 8);
  Put(out, header.segments.size(), 4);
  Put(out, header.fileHash);
  Put(out, header.storeUrl.size(), 2);
  out += header.storeUrl;
  for (const PatchSegment& segment : header.segments) {
    Put(out, static_cast<std::uint8_t>(segment.kind), 4);
    Put(out, segment.length, 4);
    Put(out, segment.baseOffset, 8);
    Put(out, segment.baseLength, 4);
    Put(out, segment.frameLength, 4);
    Put(out, segment.hash);
    Put(out, segment.baseHash);
    Put(out, segment.frameHash);
  }
  return out;
}

}  // namespace tarvo
