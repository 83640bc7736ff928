#pragma once
// Decoding the zstd frames of a patch and of the segment store, within bounds that a hostile
// frame cannot push: one frame, of exactly the size its segment has, whose window fits
// kMaxWindowLog, decoded straight into the caller's buffer.

#include <cstdint>
#include <memory>
#include <span>

namespace tarvo {

class SegmentDecoder {
 public:
  SegmentDecoder();
  SegmentDecoder(const SegmentDecoder&) = delete;
  SegmentDecoder& operator=(const SegmentDecoder&) = delete;
  ~SegmentDecoder();

  // Decodes `frame` into `out`, with `reference` (empty for a self-contained frame) as the bytes
  // the frame was made against. True only when `frame` is exactly one frame that declares
  // out.size() bytes of content and a window of at most 2^kMaxWindowLog bytes, asks for no
  // dictionary, and decodes into exactly out.size() bytes; else what `out` holds is not to be
  // used. Never reads or writes outside the three spans.
  bool Decode(std::span<const std::uint8_t> frame, std::span<const std::uint8_t> reference,
              std::span<std::uint8_t> out);

 private:
  struct Context;
  std::unique_ptr<Context> m_context;
};

}  // namespace tarvo
