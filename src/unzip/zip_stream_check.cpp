#include "unzip/zip_stream_check.h"

#include <algorithm>
#include <cstring>

#include "unzip/zip_crc32.h"
#include "unzip/zip_fields.h"

namespace tarvo {

namespace {

constexpr char kDescriptorSignature[] = "PK\x07\x08";
constexpr std::uint32_t kOutputSize = 64 * 1024;

}  // namespace

ZipStreamCheck::ZipStreamCheck() = default;

ZipStreamCheck::~ZipStreamCheck() {
  if (m_inflateReady) inflateEnd(&m_inflate);
}

bool ZipStreamCheck::Gather(std::string_view& bytes, std::size_t wanted) {
  const std::size_t take = std::min(bytes.size(), wanted - std::min(wanted, m_pending.size()));
  m_pending.append(bytes.data(), take);
  bytes.remove_prefix(take);
  m_position += take;
  return m_pending.size() >= wanted;
}

void ZipStreamCheck::Append(std::string_view bytes) {
  while (!bytes.empty() && m_state != State::kDone) {
    switch (m_state) {
      case State::kHeader:
        if (!Gather(bytes, kZipLocalHeaderSize)) break;
        // Anything but a local header ends what can be followed: the central directory, or
        // bytes the items do not account for.
        if (std::memcmp(m_pending.data(), kZipLocalHeaderSignature, 4) != 0) {
          Stop();
          break;
        }
        m_flags = static_cast<std::uint16_t>(ZipLittleEndian(m_pending.data() + 6, 2));
        m_nameLength = static_cast<std::uint16_t>(ZipLittleEndian(m_pending.data() + 26, 2));
        m_extraLength = static_cast<std::uint16_t>(ZipLittleEndian(m_pending.data() + 28, 2));
        m_state = State::kNameExtra;
        break;
      case State::kNameExtra:
        if (Gather(bytes, kZipLocalHeaderSize + m_nameLength + m_extraLength)) StartItem();
        break;
      case State::kStored:
      case State::kSkip:
        Pass(bytes);
        break;
      case State::kInflate:
        Inflate(bytes);
        break;
      case State::kDescriptor: {
        // Its signature is optional; whether it is there sets the descriptor's length.
        if (!Gather(bytes, 4)) break;
        const bool signature = std::memcmp(m_pending.data(), kDescriptorSignature, 4) == 0;
        if (Gather(bytes, (signature ? 4 : 0) + 4 + (m_zip64 ? 16 : 8))) Next();
        break;
      }
      case State::kDone:
        break;
    }
  }
}

void ZipStreamCheck::Next() {
  m_pending.clear();
  m_state = State::kHeader;
}

void ZipStreamCheck::Pass(std::string_view& bytes) {
  const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), m_storedLeft));
  if (m_state == State::kStored) {
    m_current.crc =
        ZipCrc32(m_current.crc, reinterpret_cast<const std::uint8_t*>(bytes.data()), take);
    m_current.size += take;
  }
  bytes.remove_prefix(take);
  m_position += take;
  m_storedLeft -= take;
  if (m_storedLeft > 0) return;
  if (m_state == State::kStored) EndItem();
  if (m_state != State::kDone) Next();
}

void ZipStreamCheck::Inflate(std::string_view& bytes) {
  const auto given = static_cast<uInt>(
      std::min<std::uint64_t>({bytes.size(), m_storedLeft, std::uint64_t{1} << 30}));
  m_inflate.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  m_inflate.avail_in = given;
  int status = Z_OK;
  bool full = false;
  while (status == Z_OK && m_inflate.avail_in > 0 && !full) {
    // With its size known, no more is taken than it gives, as the installer reads it.
    std::uint32_t room = kOutputSize;
    if (m_sizesKnown) room = static_cast<std::uint32_t>(std::min<std::uint64_t>(room, m_sizeLeft));
    m_inflate.next_out = m_output.get();
    m_inflate.avail_out = room;
    status = room == 0 ? Z_OK : inflate(&m_inflate, Z_NO_FLUSH);
    const std::uint32_t produced = room - m_inflate.avail_out;
    m_current.crc = ZipCrc32(m_current.crc, m_output.get(), produced);
    m_current.size += produced;
    if (m_sizesKnown) m_sizeLeft -= produced;
    full = m_sizesKnown && m_sizeLeft == 0;
  }
  const std::size_t used = given - m_inflate.avail_in;
  bytes.remove_prefix(used);
  m_position += used;
  m_storedLeft -= used;
  if (status == Z_STREAM_END || full) {
    EndItem();
    if (m_state == State::kDone) return;
    if (m_flags & kZipFlagDataDescriptor) {
      m_pending.clear();
      m_state = status == Z_STREAM_END ? State::kDescriptor : State::kDone;
    } else {
      m_state = State::kSkip;  // what the data holds past its end
      if (m_storedLeft == 0) Next();
    }
  } else if (status != Z_OK || m_storedLeft == 0) {
    // Its data is damaged, or its stored bytes ran out first (the end is left to the file when
    // the stored size came from a zip64 block), or memory ran out.
    if (status == Z_DATA_ERROR || (status == Z_OK && m_sizesLiteral)) m_damaged = true;
    Stop();
  }
}

void ZipStreamCheck::StartItem() {
  const char* header = m_pending.data();
  const auto method = static_cast<std::uint16_t>(ZipLittleEndian(header + 8, 2));
  std::uint64_t compressed = ZipLittleEndian(header + 18, 4);
  std::uint64_t uncompressed = ZipLittleEndian(header + 22, 4);
  const auto* extra =
      reinterpret_cast<const std::uint8_t*>(header + kZipLocalHeaderSize + m_nameLength);
  // Sizes the header holds itself are compared with the central directory's by the installer;
  // those it defers to its zip64 block are not.
  m_sizesLiteral = compressed != kZipDeferred && uncompressed != kZipDeferred;
  const auto zip64 = FindZipExtraBlock(extra, m_extraLength, kZip64BlockId);
  m_zip64 = zip64.has_value();
  if (zip64) {
    // The block holds the sizes that the header defers to, in this order.
    std::size_t at = 0;
    for (std::uint64_t* size : {&uncompressed, &compressed}) {
      if (*size != kZipDeferred) continue;
      if (at + 8 > zip64->size()) return Stop();
      *size = ZipLittleEndian(zip64->data() + at, 8);
      at += 8;
    }
  }
  m_current = Followed{};
  m_current.headerOffset = m_position - m_pending.size();
  m_current.dataOffset = m_position;
  m_current.crc = crc32(0, nullptr, 0);
  m_pending.clear();
  const bool descriptor = (m_flags & kZipFlagDataDescriptor) != 0;
  m_sizesKnown = !descriptor;
  m_sizeLeft = uncompressed;
  m_headerSize = uncompressed;
  m_headerCrc = static_cast<std::uint32_t>(ZipLittleEndian(header + 14, 4));
  m_storedLeft = descriptor ? ~std::uint64_t{0} : compressed;
  if ((m_flags & kZipFlagEncrypted) != 0 ||
      (method != kZipMethodStored && method != kZipMethodDeflated)) {
    // Not checked here (the installer leaves such items alone); passed over when their size
    // is known.
    m_state = descriptor ? State::kDone : State::kSkip;
  } else if (method == kZipMethodStored) {
    // A stored item whose end only its data descriptor tells cannot be followed.
    m_state = descriptor ? State::kDone : State::kStored;
  } else {
    if (!m_output) m_output = std::make_unique<std::uint8_t[]>(kOutputSize);
    const int status =
        m_inflateReady ? inflateReset(&m_inflate) : inflateInit2(&m_inflate, -MAX_WBITS);
    if (status != Z_OK) return Stop();
    m_inflateReady = true;
    m_state = State::kInflate;
  }
  // An item with no data ends where it starts.
  if (m_state != State::kDone && m_sizesKnown && m_storedLeft == 0) {
    if (m_state != State::kSkip) EndItem();
    if (m_state != State::kDone) Next();
  }
}

void ZipStreamCheck::EndItem() {
  if (m_sizesKnown && m_sizesLiteral &&
      (m_current.crc != m_headerCrc || m_current.size != m_headerSize)) {
    m_damaged = true;
  }
  m_followed.push_back(m_current);
  if (m_followed.size() >= kMaxFollowedItems) Stop();
}

const ZipStreamCheck::Followed* ZipStreamCheck::Find(std::uint64_t headerOffset) const {
  const auto at = std::lower_bound(
      m_followed.begin(), m_followed.end(), headerOffset,
      [](const Followed& item, std::uint64_t offset) { return item.headerOffset < offset; });
  return at != m_followed.end() && at->headerOffset == headerOffset ? &*at : nullptr;
}

}  // namespace tarvo
