#pragma once
// Zip archives made byte by byte, for tests that need exact or damaged ones.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::test {

struct ZipEntry {
  std::string name = {};  // raw bytes
  std::string data = {};  // the uncompressed contents
  std::uint16_t method = 8;
  std::uint16_t flags = 0;
  std::uint16_t versionMadeBy = 0x031E;           // Unix host
  std::uint32_t externalAttributes = 0x81A40000;  // regular file, rw-r--r--
  std::uint32_t dosDateTime = 0x3A8D5A2B;         // 2009-04-13 11:17:22
  std::string localExtra = {};
  // Encrypts the stored bytes with this password; the check byte is right unless told.
  std::optional<std::string> password = {};
  bool wrongCheckByte = false;
  // What the headers record instead of the true values, and stored bytes instead of the
  // compressed data.
  std::optional<std::uint32_t> crc = {};
  std::optional<std::uint32_t> uncompressedSize = {};
  std::optional<std::string> stored = {};
  // Sizes (and, in the central record, the offset) in zip64 blocks, their fields 0xFFFFFFFF.
  bool zip64 = false;
  // Changes the local header (30 bytes, name, extra field) after it is made.
  std::function<void(std::string&)> patchLocalHeader = {};
  // Changes the central-directory record after it is made.
  std::function<void(std::string&)> patchCentralRecord = {};
};

// Raw deflate of `data`, as zip items store it.
std::string Deflate(const std::string& data);

// How the archive ends: with the end record alone (its 16-bit count wraps past 65,535 items),
// or with a zip64 end record and its locator in front of it, the end record deferring to them
// (0xFFFF, 0xFFFFFFFF) or holding its values in full, as Info-ZIP writes from standard input.
enum class ZipEnd { kPlain, kZip64, kZip64Alongside };

// A whole archive: `prefix`, the items, the central directory and the end record with
// `comment`.
std::string BuildZip(const std::vector<ZipEntry>& entries, const std::string& prefix = {},
                     const std::string& comment = {}, ZipEnd end = ZipEnd::kPlain);

// An archive holding one stored item of `size` PatternBytes: a body that the download worker
// takes for a zip archive.
std::string PatternArchive(std::size_t size);

// An extended timestamp ("UT") block with `flags` and the given values.
std::string ExtendedTimestamp(std::uint8_t flags, const std::vector<std::int32_t>& values);

}  // namespace tarvo::test
