// Patches on hostile bytes: whatever a patch holds, its application stays within its bounds and
// ends, and what it makes is the file its header names or nothing. The input's first byte says
// whether the rest is taken as it is (the header's checks refuse nearly all of it) or mended
// first: its records kept within the base and the rules, and the frame and file hashes made to
// match, so that hostile frames reach the decoder with ranges of the base as their reference.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "common/utf.h"
#include "patch/apply_patch.h"
#include "support/patch_builder.h"
#include "unzip/zip_fields.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBaseSize = 64 * 1024;

const fs::path& BasePath() {
  static const fs::path path = [] {
    const fs::path file = fs::temp_directory_path() / "tarvo-patch-fuzz-base.bin";
    std::string bytes(kBaseSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<char>(i * 2654435761u >> 13);
    std::ofstream(file, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
  }();
  return path;
}

class Sink final : public tarvo::PatchSink {
 public:
  bool Write(const void*, std::size_t size) override {
    written += size;
    return true;
  }
  std::uint64_t written = 0;
};

class NoSegments final : public tarvo::SegmentCache {
 public:
  bool Find(const tarvo::SegmentHash&, std::vector<std::uint8_t>&) override { return false; }
  void Discard(const tarvo::SegmentHash&) override {}
};

std::uint64_t Field(const std::string& bytes, std::size_t at, int size) {
  return at + size <= bytes.size() ? tarvo::ZipLittleEndian(bytes.data() + at, size) : 0;
}

// A patch within the rules, made of what `bytes` says: up to 8 records of 13 bytes each
// (kind, length, base offset, base length, frame length), then the frames' bytes.
std::string Mend(const std::string& bytes) {
  tarvo::PatchHeader header;
  header.baseSize = kBaseSize;
  header.storeUrl = "http://127.0.0.1/store/";
  const std::size_t count = bytes.empty() ? 0 : 1 + static_cast<unsigned char>(bytes[0]) % 8;
  std::size_t at = 1 + count * 13;
  std::string frames;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t r = 1 + i * 13;
    tarvo::PatchSegment s;
    s.kind = static_cast<tarvo::SegmentKind>(1 + Field(bytes, r, 1) % 3);
    s.length = static_cast<std::uint32_t>(1 + Field(bytes, r + 1, 3) % kBaseSize);
    if (s.kind != tarvo::SegmentKind::kWhole) {
      s.baseLength = s.kind == tarvo::SegmentKind::kCopy
                         ? s.length
                         : static_cast<std::uint32_t>(1 + Field(bytes, r + 4, 3) % kBaseSize);
      s.baseOffset = Field(bytes, r + 7, 3) % (kBaseSize - s.baseLength + 1);
    }
    if (s.kind != tarvo::SegmentKind::kCopy) {
      const std::size_t length = std::min<std::size_t>(1 + Field(bytes, r + 10, 3) % 4096,
                                                       bytes.size() - std::min(at, bytes.size()));
      const std::string frame = bytes.substr(std::min(at, bytes.size()), length);
      at += length;
      if (frame.empty()) continue;
      s.frameLength = static_cast<std::uint32_t>(frame.size());
      s.frameHash = tarvo::HashBytes(frame.data(), frame.size());
      frames += frame;
    }
    header.size += s.length;
    header.segments.push_back(s);
  }
  header.fileHash = tarvo::FileHash(header.size, header.segments);
  return tarvo::FormatPatchHeader(header) + frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) bytes = Mend(bytes);
  tarvo::test::PatchBytes source(bytes);
  Sink sink;
  NoSegments none;
  const tarvo::PatchOutcome outcome =
      tarvo::ApplyPatch(source, tarvo::Utf8ToUtf16(BasePath().string()).c_str(), none, &sink);
  if (outcome.result == tarvo::PatchOutcome::Result::kApplied) {
    // Made whole: exactly the file's size was written.
    tarvo::test::PatchBytes again(bytes);
    const std::optional<tarvo::PatchHeader> header = tarvo::ReadPatchHeader(again);
    if (!header || header->size != sink.written) std::abort();
  }
  return 0;
}
