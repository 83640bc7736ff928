#include "patch/segment_frame.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <new>

#include "patch/patch_format.h"

namespace tarvo {

struct SegmentDecoder::Context {
  Context() : dctx(ZSTD_createDCtx()) {
    if (dctx == nullptr) throw std::bad_alloc();
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context() { ZSTD_freeDCtx(dctx); }
  ZSTD_DCtx* dctx;
};

SegmentDecoder::SegmentDecoder() : m_context(std::make_unique<Context>()) {}

SegmentDecoder::~SegmentDecoder() = default;

bool SegmentDecoder::Decode(std::span<const std::uint8_t> frame,
                            std::span<const std::uint8_t> reference, std::span<std::uint8_t> out) {
  ZSTD_frameHeader header{};
  if (ZSTD_getFrameHeader(&header, frame.data(), frame.size()) != 0 ||
      header.frameType != ZSTD_frame || header.frameContentSize != out.size() ||
      header.windowSize > (std::uint64_t{1} << kMaxWindowLog) || header.dictID != 0 ||
      ZSTD_findFrameCompressedSize(frame.data(), frame.size()) != frame.size()) {
    return false;
  }
  ZSTD_DCtx* const dctx = m_context->dctx;
  ZSTD_DCtx_reset(dctx, ZSTD_reset_session_and_parameters);
  // Decoding into the whole segment needs no window of the decoder's own; the limit stands in
  // case that ever changes.
  if (ZSTD_isError(ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, kMaxWindowLog))) return false;
  if (!reference.empty() &&
      ZSTD_isError(ZSTD_DCtx_refPrefix(dctx, reference.data(), reference.size()))) {
    return false;
  }
  const std::size_t made =
      ZSTD_decompressDCtx(dctx, out.data(), out.size(), frame.data(), frame.size());
  return !ZSTD_isError(made) && made == out.size();
}

}  // namespace tarvo
