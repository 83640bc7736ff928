#pragma once
// The file a patch was made from (its base), as far as the installation holds it, read by
// ranges; and what became of making a segment from it.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/files.h"

namespace tarvo {

// What became of one segment, or of reading what it is made from.
enum class Made {
  kMade,         // its bytes are checked (or, when only looking, known to be at hand)
  kUnavailable,  // neither the base nor the cache gives it
  kDamaged,      // the patch is damaged or hostile
  kFailed,       // the base could not be read
};

// A buffer that grows to the largest size asked of it and is then reused: its first `size`
// bytes.
std::span<std::uint8_t> BufferOf(std::vector<std::uint8_t>& buffer, std::size_t size);

// The base: held so that nobody writes it meanwhile (Windows), read by ranges.
class BaseFile {
 public:
  // Opens `path`; a missing file is a base without bytes. False when the machine keeps it from
  // being read (in use, no permission, an I/O error): `error` tells why.
  bool Open(const char16_t* path, DWORD& error);
  bool present() const { return m_file.IsOpen(); }
  std::uint64_t size() const { return m_size; }

  // Reads `out.size()` bytes from `offset`: kMade; kUnavailable when the base does not hold
  // them; kFailed, with `error`, when they could not be read.
  Made Read(std::uint64_t offset, std::span<std::uint8_t> out, DWORD& error);

 private:
  CFile m_file;
  std::uint64_t m_size = 0;
};

}  // namespace tarvo
