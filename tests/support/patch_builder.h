#pragma once
// Patches made for tests from segments the test chooses (the publishing tool is built for POSIX
// alone, and tests need exact and damaged patches too).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "patch/patch_format.h"

namespace tarvo::test {

inline constexpr char kTestStoreUrl[] = "http://127.0.0.1:1/store/";

// `size` bytes that look random, the same for the same seed.
std::string NoiseBytes(std::size_t size, std::uint32_t seed);

// How one segment of the new file is made: a copy of the base at `baseOffset`, a frame made
// against the base's `baseLength` bytes from `baseOffset`, or a self-contained frame.
struct PatchPiece {
  SegmentKind kind = SegmentKind::kWhole;
  std::uint32_t length = 0;
  std::uint64_t baseOffset = 0;
  std::uint32_t baseLength = 0;
};

struct BuiltPatch {
  PatchHeader header;
  std::vector<std::string> frames;  // one per segment, empty for a copy
  // The patch's bytes: its header, then its frames.
  std::string Bytes() const;
};

// The patch that makes `next` from `base` in the given pieces (their lengths add up to
// next.size()), naming the store at `storeUrl`.
BuiltPatch MakePatch(const std::string& base, const std::string& next,
                     const std::vector<PatchPiece>& pieces,
                     const std::string& storeUrl = kTestStoreUrl);

// The same, cut into segments of `segment` bytes, each a copy where the base holds the same
// bytes at the same offset, else made against the base's bytes around that offset.
BuiltPatch MakePatch(const std::string& base, const std::string& next, std::uint32_t segment,
                     const std::string& storeUrl = kTestStoreUrl);

// A self-contained frame of `bytes`, or one made against `reference`.
std::string Frame(const std::string& bytes, const std::string& reference = {});

// A patch read from bytes in memory.
class PatchBytes final : public PatchSource {
 public:
  explicit PatchBytes(std::string bytes) : m_bytes(std::move(bytes)) {}
  bool Read(void* buffer, std::size_t size) override;

 private:
  std::string m_bytes;
  std::size_t m_at = 0;
};

// The segment store's frames for `next` cut as `patch` cuts it: file name to bytes.
std::map<std::string, std::string> StoreFrames(const BuiltPatch& patch, const std::string& next);

}  // namespace tarvo::test
