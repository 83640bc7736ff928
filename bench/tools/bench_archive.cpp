// Writes the archives that bench/install.sh installs, the same bytes at every run:
//   bench_archive game OUT.zip      about 300 MB in 2000 files in nested folders, half of them
//                                   text-like and deflated, half noise and stored, as an
//                                   archiver that keeps the smaller form writes them
//   bench_archive deflated OUT.zip  one file of 512 MiB of text-like bytes, deflated
//   bench_archive stored OUT.zip    one file of 512 MiB of noise, stored
//   bench_archive huge OUT.zip      one file of 5 GiB of text-like bytes, deflated: zip64 sizes

#include <minizip/zip.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kGameFiles = 2000;
constexpr std::uint64_t kGameBytes = 300ull << 20;
constexpr std::uint64_t kLargeFileBytes = 512ull << 20;
constexpr std::uint64_t kHugeFileBytes = 5ull << 30;
// The large file is written in pieces of this size.
constexpr std::size_t kPiece = 1 << 20;

// A small deterministic generator.
struct Random {
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  std::uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state >> 33);
  }
};

// Text-like bytes from a small vocabulary (compressible about 3:1), or noise.
std::string Contents(Random& random, std::size_t size, bool compressible) {
  static const char* const kWords[] = {"sword ",  "shield ", "dragon ",  "castle ", "mana ",
                                       "potion ", "quest ",  "village ", "forest ", "gold "};
  std::string data;
  data.reserve(size + 16);
  while (data.size() < size) {
    if (compressible) {
      data += kWords[random.Next() % 10];
      if (random.Next() % 7 == 0) data += std::to_string(random.Next() % 1000) + "\n";
    } else {
      const std::uint32_t v = random.Next();
      data.append(reinterpret_cast<const char*>(&v), 4);
    }
  }
  data.resize(size);
  return data;
}

// Opens a new item of `name`: deflated at level 6, or stored; with zip64 blocks for an item
// that reaches 4 GiB.
bool OpenItem(zipFile zip, const std::string& name, bool deflated, bool zip64 = false) {
  zip_fileinfo info{};
  info.tmz_date = {22, 17, 11, 13, 3, 2009};
  info.external_fa = 0x20;
  return zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                               deflated ? Z_DEFLATED : 0, deflated ? 6 : 0, zip64 ? 1 : 0) == 0;
}

bool WriteGame(zipFile zip) {
  Random random;
  const std::uint64_t average = kGameBytes / kGameFiles;
  for (int i = 0; i < kGameFiles; ++i) {
    const std::size_t size = average / 4 + random.Next() % (average * 3 / 2);
    const bool compressible = i % 2 == 0;
    const std::string name = "Data/Zone" + std::to_string(i % 10) + "/Part" +
                             std::to_string((i / 10) % 20) + "/file" + std::to_string(i) +
                             (compressible ? ".txt" : ".bin");
    const std::string data = Contents(random, size, compressible);
    if (!OpenItem(zip, name, compressible) ||
        zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())) != 0 ||
        zipCloseFileInZip(zip) != 0) {
      return false;
    }
  }
  return true;
}

bool WriteLargeFile(zipFile zip, bool deflated, std::uint64_t bytes = kLargeFileBytes) {
  Random random;
  const bool zip64 = bytes >= 0xFFFFFFFF;
  if (!OpenItem(zip,
                zip64      ? "Data/huge.txt"
                : deflated ? "Data/large.txt"
                           : "Data/large.bin",
                deflated, zip64)) {
    return false;
  }
  for (std::uint64_t written = 0; written < bytes; written += kPiece) {
    const std::string data = Contents(random, kPiece, deflated);
    if (zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())) != 0) {
      return false;
    }
  }
  return zipCloseFileInZip(zip) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* kind = argc == 3 ? argv[1] : "";
  const bool game = std::strcmp(kind, "game") == 0;
  const bool huge = std::strcmp(kind, "huge") == 0;
  const bool deflated = huge || std::strcmp(kind, "deflated") == 0;
  if (!game && !deflated && std::strcmp(kind, "stored") != 0) {
    std::fprintf(stderr, "usage: bench_archive game|deflated|stored|huge OUT.zip\n");
    return 2;
  }
  zipFile zip = zipOpen64(argv[2], 0);
  if (zip == nullptr) {
    std::fprintf(stderr, "bench_archive: cannot create %s\n", argv[2]);
    return 1;
  }
  const bool written = game   ? WriteGame(zip)
                       : huge ? WriteLargeFile(zip, true, kHugeFileBytes)
                              : WriteLargeFile(zip, deflated);
  if (zipClose(zip, nullptr) != 0 || !written) {
    std::fprintf(stderr, "bench_archive: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
