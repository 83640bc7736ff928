#include "publish/content_segments.h"

#include <array>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "patch/patch_format.h"

namespace tarvo::publish {

namespace {

// A random value for each byte (from a fixed seed: cuts must fall alike at every run). The
// rolling value after byte i is (value << 1) + kGear[byte]: its top bit depends on the 64 bytes
// up to i and nothing before them.
constexpr std::array<std::uint64_t, 256> MakeGear() {
  std::array<std::uint64_t, 256> gear{};
  std::uint64_t state = 0x5441'5256'4f43'5554;  // "TARVOCUT"
  for (std::uint64_t& value : gear) {
    state += 0x9e37'79b9'7f4a'7c15;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58'476d'1ce4'e5b9;
    z = (z ^ (z >> 27)) * 0x94d0'49bb'1331'11eb;
    value = z ^ (z >> 31);
  }
  return gear;
}
constexpr std::array<std::uint64_t, 256> kGear = MakeGear();

constexpr std::size_t kWindow = 64;
// A cut where the top 23 bits of the rolling value are zero: one in 8 Mi positions. The short
// minimum skips few of them, so that a file and its edited copy are cut alike again at the
// first of them after an edit.
constexpr std::uint64_t kCutMask = ~std::uint64_t{0} << (64 - 23);

// The length of the segment that starts at `data`, of which `available` bytes are at hand (at
// least kMaxSegmentSize unless the file ends within them), and its end key.
std::size_t FindCut(const std::uint8_t* data, std::size_t available, std::uint64_t* key) {
  *key = 0;
  if (available <= kMinContentSegment) return available;
  const std::size_t limit = std::min<std::size_t>(available, kMaxSegmentSize);
  std::uint64_t rolling = 0;
  for (std::size_t i = kMinContentSegment - kWindow; i < kMinContentSegment; ++i) {
    rolling = (rolling << 1) + kGear[data[i]];
  }
  for (std::size_t i = kMinContentSegment; i < limit; ++i) {
    rolling = (rolling << 1) + kGear[data[i]];
    if ((rolling & kCutMask) == 0) {
      *key = rolling;
      return i + 1;
    }
  }
  // No cut before the limit: a segment of the longest length, or the rest of the file.
  if (limit == kMaxSegmentSize) *key = rolling;
  return limit;
}

ContentSegment MakeSegment(std::uint64_t offset, const std::uint8_t* data, std::size_t length,
                           std::uint64_t key) {
  return {offset, static_cast<std::uint32_t>(length), HashBytes(data, length), key};
}

}  // namespace

std::vector<ContentSegment> CutIntoSegments(const std::uint8_t* data, std::size_t size) {
  std::vector<ContentSegment> segments;
  for (std::size_t offset = 0; offset < size;) {
    std::uint64_t key = 0;
    const std::size_t length = FindCut(data + offset, size - offset, &key);
    segments.push_back(MakeSegment(offset, data + offset, length, key));
    offset += length;
  }
  return segments;
}

std::vector<ContentSegment> CutIntoSegments(const std::filesystem::path& path,
                                            const std::function<void(std::uint64_t)>& progress) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::vector<std::uint8_t> buffer(kMaxSegmentSize);
  std::size_t held = 0;
  std::uint64_t offset = 0;
  std::vector<ContentSegment> segments;
  for (;;) {
    in.read(reinterpret_cast<char*>(buffer.data() + held),
            static_cast<std::streamsize>(buffer.size() - held));
    if (in.bad()) throw std::runtime_error("cannot read " + path.string());
    const auto got = static_cast<std::size_t>(in.gcount());
    progress(got);
    held += got;
    if (held == 0) break;
    std::uint64_t key = 0;
    const std::size_t length = FindCut(buffer.data(), held, &key);
    segments.push_back(MakeSegment(offset, buffer.data(), length, key));
    offset += length;
    held -= length;
    std::memmove(buffer.data(), buffer.data() + length, held);
  }
  return segments;
}

}  // namespace tarvo::publish
