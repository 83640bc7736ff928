#pragma once
// Checking the items of a zip archive while its bytes go by, first to last, as a download
// receives them: each local header is read, each item's data inflated (or, when stored,
// counted) and its CRC-32 taken, so that once the archive is complete its items need not be
// read again. Finish then holds what went by against the central directory, read from the file.
//
// Items the stream cannot follow are read from the file at the end instead: bytes in front of
// the archive, anything between items, a stored item whose size only a data descriptor gives,
// and everything after the first of those. Memory stays bounded: a header, zlib's window, and a
// few words per item (up to kMaxFollowedItems; later items are read from the file).

#include <zlib.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

class ZipStreamCheck {
 public:
  // Items followed in the stream at most; later ones are checked from the file.
  static constexpr std::size_t kMaxFollowedItems = 1 << 19;

  ZipStreamCheck();
  ZipStreamCheck(const ZipStreamCheck&) = delete;
  ZipStreamCheck& operator=(const ZipStreamCheck&) = delete;
  ~ZipStreamCheck();

  // The archive's next bytes.
  void Append(std::string_view bytes);

  // An item whose data the stream followed to its end (as its local header gives it): where its
  // header and data started, and the size and CRC-32 of what its data gave.
  struct Followed {
    std::uint64_t headerOffset = 0;
    std::uint64_t dataOffset = 0;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
  };
  // The item whose local header starts at `headerOffset` of the stream, if it was followed.
  const Followed* Find(std::uint64_t headerOffset) const;

  // True once an item whose local header gives its CRC-32 and sizes (in its own fields, not in
  // a zip64 block) went by with data that does not give them, or with deflated data that
  // cannot be inflated: the archive cannot be whole, whatever its central directory says. Any
  // thread may ask while another appends.
  bool Damaged() const { return m_damaged; }

 private:
  enum class State { kHeader, kNameExtra, kStored, kInflate, kSkip, kDescriptor, kDone };

  // Moves up to `wanted` bytes of `bytes` into m_pending; true once it holds `wanted`.
  bool Gather(std::string_view& bytes, std::size_t wanted);
  // Reads the local header gathered, and sets out to follow its data.
  void StartItem();
  // Takes stored data (kStored) or passes over bytes (kSkip).
  void Pass(std::string_view& bytes);
  void Inflate(std::string_view& bytes);
  // The current item is followed to its end.
  void EndItem();
  // The next local header is due.
  void Next();
  // Nothing further is followed.
  void Stop() { m_state = State::kDone; }

  State m_state = State::kHeader;
  std::uint64_t m_position = 0;  // of the next byte in the stream
  std::string m_pending;         // header bytes gathered so far
  std::uint16_t m_flags = 0;
  std::uint16_t m_nameLength = 0;
  std::uint16_t m_extraLength = 0;
  std::uint64_t m_storedLeft = 0;  // bytes of the current item's data the header announces
  std::uint64_t m_sizeLeft = 0;    // bytes it is to give, when the header says
  bool m_sizesKnown = false;
  bool m_sizesLiteral = false;
  bool m_zip64 = false;
  std::uint64_t m_headerSize = 0;  // the size its header gives
  std::uint32_t m_headerCrc = 0;
  std::atomic<bool> m_damaged{false};
  Followed m_current;
  std::vector<Followed> m_followed;  // in stream order, so sorted by header offset
  std::unique_ptr<std::uint8_t[]> m_output;
  z_stream m_inflate{};
  bool m_inflateReady = false;
};

}  // namespace tarvo
