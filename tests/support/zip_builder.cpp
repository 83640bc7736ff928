#include "support/zip_builder.h"

#include <zlib.h>

#include "support/test_servers.h"
#include "unzip/zip_crypto.h"

namespace tarvo::test {

namespace {

void Put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string Deflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string ExtendedTimestamp(std::uint8_t flags, const std::vector<std::int32_t>& values) {
  std::string block = "UT";
  Put(block, static_cast<std::uint32_t>(1 + 4 * values.size()), 2);
  block.push_back(static_cast<char>(flags));
  for (const std::int32_t v : values) Put(block, static_cast<std::uint32_t>(v), 4);
  return block;
}

std::string BuildZip(const std::vector<ZipEntry>& entries, const std::string& prefix,
                     const std::string& comment, ZipEnd ending) {
  constexpr std::uint32_t kDeferred = 0xFFFFFFFF;
  std::string body, directory;
  for (const ZipEntry& e : entries) {
    const std::uint32_t trueCrc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    const std::uint32_t crc = e.crc.value_or(trueCrc);
    std::string data = e.stored ? *e.stored : e.method == 8 ? Deflate(e.data) : e.data;
    std::uint16_t flags = e.flags;
    if (e.password) {
      flags |= 1;
      ZipCryptoKeys keys(*e.password);
      std::string plain = "0123456789a";
      std::uint8_t check = (flags & 8) ? (e.dosDateTime >> 8) & 0xFF : crc >> 24;
      plain.push_back(static_cast<char>(e.wrongCheckByte ? check ^ 0x5A : check));
      plain += data;
      for (char& c : plain) c = static_cast<char>(keys.Encrypt(static_cast<std::uint8_t>(c)));
      data = plain;
    }
    const std::uint32_t size =
        e.uncompressedSize.value_or(static_cast<std::uint32_t>(e.data.size()));
    // From the flags to the uncompressed size, local header and central record agree.
    std::string shared;
    Put(shared, flags, 2);
    Put(shared, e.method, 2);
    Put(shared, e.dosDateTime, 4);
    Put(shared, crc, 4);
    Put(shared, e.zip64 ? kDeferred : data.size(), 4);
    Put(shared, e.zip64 ? kDeferred : size, 4);
    std::string localExtra = e.localExtra, centralExtra;
    if (e.zip64) {
      std::string sizes;
      Put(sizes, size, 8);
      Put(sizes, data.size(), 8);
      localExtra = std::string("\x01\x00\x10\x00", 4) + sizes + localExtra;
      centralExtra = std::string("\x01\x00\x18\x00", 4) + sizes;
      Put(centralExtra, body.size(), 8);
    }

    std::string local;
    Put(local, 0x04034b50, 4);
    Put(local, 20, 2);
    local += shared;
    Put(local, e.name.size(), 2);
    Put(local, localExtra.size(), 2);
    local += e.name + localExtra;
    if (e.patchLocalHeader) e.patchLocalHeader(local);

    std::string central;
    Put(central, 0x02014b50, 4);
    Put(central, e.versionMadeBy, 2);
    Put(central, 20, 2);
    central += shared;
    Put(central, e.name.size(), 2);
    Put(central, centralExtra.size(), 2);
    Put(central, 0, 2);  // comment
    Put(central, 0, 2);  // disk
    Put(central, 0, 2);  // internal attributes
    Put(central, e.externalAttributes, 4);
    Put(central, e.zip64 ? kDeferred : body.size(), 4);
    central += e.name + centralExtra;
    if (e.patchCentralRecord) e.patchCentralRecord(central);
    directory += central;
    body += local + data;
  }
  std::string end;
  if (ending != ZipEnd::kPlain) {
    Put(end, 0x06064b50, 4);
    Put(end, 44, 8);  // what follows of the record
    Put(end, 0x031E, 2);
    Put(end, 45, 2);
    Put(end, 0, 8);  // both disk numbers
    Put(end, entries.size(), 8);
    Put(end, entries.size(), 8);
    Put(end, directory.size(), 8);
    Put(end, body.size(), 8);
    Put(end, 0x07064b50, 4);  // the locator
    Put(end, 0, 4);
    Put(end, body.size() + directory.size(), 8);
    Put(end, 1, 4);
  }
  const bool deferred = ending == ZipEnd::kZip64;
  Put(end, 0x06054b50, 4);
  Put(end, 0, 4);  // both disk numbers
  Put(end, deferred ? 0xFFFF : entries.size(), 2);
  Put(end, deferred ? 0xFFFF : entries.size(), 2);
  Put(end, deferred ? kDeferred : directory.size(), 4);
  Put(end, deferred ? kDeferred : body.size(), 4);
  Put(end, comment.size(), 2);
  return prefix + body + directory + end + comment;
}

std::string PatternArchive(std::size_t size) {
  return BuildZip({{.name = "data.bin", .data = PatternBytes(size), .method = 0}});
}

}  // namespace tarvo::test
