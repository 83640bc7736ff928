#include "support/patch_builder.h"

#include <zstd.h>

#include <algorithm>
#include <stdexcept>

namespace tarvo::test {

namespace {

SegmentHash Hash(const std::string& bytes) { return HashBytes(bytes.data(), bytes.size()); }

}  // namespace

std::string NoiseBytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  // splitmix64 of a counter that starts far apart for each seed: streams that never meet.
  std::uint64_t counter = std::uint64_t{seed} << 40;
  for (std::size_t i = 0; i < size; i += 8) {
    std::uint64_t z = (counter++) * 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    for (std::size_t j = i; j < std::min(size, i + 8); ++j, z >>= 8) {
      bytes[j] = static_cast<char>(z);
    }
  }
  return bytes;
}

std::string Frame(const std::string& bytes, const std::string& reference) {
  ZSTD_CCtx* const cctx = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, 3);
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 1);
  if (!reference.empty()) {
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, 24);
    ZSTD_CCtx_refPrefix(cctx, reference.data(), reference.size());
  }
  std::string frame(ZSTD_compressBound(bytes.size()), '\0');
  const std::size_t size =
      ZSTD_compress2(cctx, frame.data(), frame.size(), bytes.data(), bytes.size());
  ZSTD_freeCCtx(cctx);
  if (ZSTD_isError(size)) throw std::runtime_error(ZSTD_getErrorName(size));
  frame.resize(size);
  return frame;
}

bool PatchBytes::Read(void* buffer, std::size_t size) {
  if (size > m_bytes.size() - m_at) return false;
  m_bytes.copy(static_cast<char*>(buffer), size, m_at);
  m_at += size;
  return true;
}

std::string BuiltPatch::Bytes() const {
  std::string bytes = FormatPatchHeader(header);
  for (const std::string& frame : frames) bytes += frame;
  return bytes;
}

BuiltPatch MakePatch(const std::string& base, const std::string& next,
                     const std::vector<PatchPiece>& pieces, const std::string& storeUrl) {
  BuiltPatch patch;
  patch.header.baseSize = base.size();
  patch.header.size = next.size();
  patch.header.storeUrl = storeUrl;
  std::size_t offset = 0;
  for (const PatchPiece& piece : pieces) {
    const std::string bytes = next.substr(offset, piece.length);
    offset += piece.length;
    PatchSegment segment;
    segment.kind = piece.kind;
    segment.length = piece.length;
    segment.hash = Hash(bytes);
    std::string frame;
    if (piece.kind == SegmentKind::kCopy) {
      segment.baseOffset = piece.baseOffset;
      segment.baseLength = piece.length;
    } else if (piece.kind == SegmentKind::kPatch) {
      const std::string reference = base.substr(piece.baseOffset, piece.baseLength);
      segment.baseOffset = piece.baseOffset;
      segment.baseLength = piece.baseLength;
      segment.baseHash = Hash(reference);
      frame = Frame(bytes, reference);
    } else {
      frame = Frame(bytes);
    }
    if (!frame.empty()) {
      segment.frameLength = static_cast<std::uint32_t>(frame.size());
      segment.frameHash = Hash(frame);
    }
    patch.header.segments.push_back(segment);
    patch.frames.push_back(frame);
  }
  patch.header.fileHash = FileHash(patch.header.size, patch.header.segments);
  return patch;
}

BuiltPatch MakePatch(const std::string& base, const std::string& next, std::uint32_t segment,
                     const std::string& storeUrl) {
  std::vector<PatchPiece> pieces;
  for (std::size_t offset = 0; offset < next.size(); offset += segment) {
    PatchPiece piece;
    piece.length = static_cast<std::uint32_t>(std::min<std::size_t>(segment, next.size() - offset));
    if (offset + piece.length <= base.size() &&
        base.compare(offset, piece.length, next, offset, piece.length) == 0) {
      piece.kind = SegmentKind::kCopy;
      piece.baseOffset = offset;
    } else if (!base.empty()) {
      piece.kind = SegmentKind::kPatch;
      piece.baseOffset = std::min(offset, base.size() - 1);
      piece.baseLength = static_cast<std::uint32_t>(
          std::min<std::size_t>(2 * std::size_t{segment}, base.size() - piece.baseOffset));
    }
    pieces.push_back(piece);
  }
  return MakePatch(base, next, pieces, storeUrl);
}

std::map<std::string, std::string> StoreFrames(const BuiltPatch& patch, const std::string& next) {
  std::map<std::string, std::string> frames;
  std::size_t offset = 0;
  for (const PatchSegment& segment : patch.header.segments) {
    frames[HashToHex(segment.hash) + ".zst"] = Frame(next.substr(offset, segment.length));
    offset += segment.length;
  }
  return frames;
}

}  // namespace tarvo::test
