#include "support/zip_builder.h"

#include <zlib.h>

#include "support/test_servers.h"
#include "unzip/zip_crypto.h"

namespace tarvo::test {

namespace {

void Put(std::string& out, std::uint32_t value, int bytes) {
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
                     const std::string& comment) {
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
    Put(shared, static_cast<std::uint32_t>(data.size()), 4);
    Put(shared, size, 4);

    std::string local;
    Put(local, 0x04034b50, 4);
    Put(local, 20, 2);
    local += shared;
    Put(local, static_cast<std::uint32_t>(e.name.size()), 2);
    Put(local, static_cast<std::uint32_t>(e.localExtra.size()), 2);
    local += e.name + e.localExtra;
    if (e.patchLocalHeader) e.patchLocalHeader(local);

    std::string central;
    Put(central, 0x02014b50, 4);
    Put(central, e.versionMadeBy, 2);
    Put(central, 20, 2);
    central += shared;
    Put(central, static_cast<std::uint32_t>(e.name.size()), 2);
    Put(central, 0, 2);  // extra
    Put(central, 0, 2);  // comment
    Put(central, 0, 2);  // disk
    Put(central, 0, 2);  // internal attributes
    Put(central, e.externalAttributes, 4);
    Put(central, static_cast<std::uint32_t>(body.size()), 4);
    central += e.name;
    if (e.patchCentralRecord) e.patchCentralRecord(central);
    directory += central;
    body += local + data;
  }
  std::string end;
  Put(end, 0x06054b50, 4);
  Put(end, 0, 4);  // both disk numbers
  Put(end, static_cast<std::uint32_t>(entries.size()), 2);
  Put(end, static_cast<std::uint32_t>(entries.size()), 2);
  Put(end, static_cast<std::uint32_t>(directory.size()), 4);
  Put(end, static_cast<std::uint32_t>(body.size()), 4);
  Put(end, static_cast<std::uint32_t>(comment.size()), 2);
  return prefix + body + directory + end + comment;
}

std::string PatternArchive(std::size_t size) {
  return BuildZip({{.name = "data.bin", .data = PatternBytes(size), .method = 0}});
}

}  // namespace tarvo::test
