// Extraction of a game-like archive (about 300 MB in 2000 files in nested folders, half of
// them compressible), through the installer's calling order, against Info-ZIP's
// "unzip -o -q" into a fresh folder. Both run as child processes, alternately; the figures
// are wall times and peak resident sizes. POSIX only.
//
// A child's resident peak as the kernel reports it at its end also holds the parent's peak
// (fork and exec fold it in), so the extraction reports its own peak (VmHWM) instead; unzip's
// figure is that report, an upper bound.
//
//   unzip_bench [ROUNDS]          (default 5)

#include <minizip/zip.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// minizip's writer names its success ZIP_OK too (a macro, also 0): it is compared with 0
// below, and the name is left to the interface under test.
#undef ZIP_OK
#include "unzip/zip_archive.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 2000;
constexpr std::uint64_t kTotalBytes = 300ull << 20;

// A small deterministic generator, so that every run extracts the same archive.
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

// Writes the archive with minizip's writer: compressible files deflated, noise stored, as
// an archiver that keeps the smaller form does.
bool MakeArchive(const fs::path& path) {
  zipFile zip = zipOpen64(path.c_str(), 0);
  if (zip == nullptr) return false;
  Random random;
  const std::uint64_t average = kTotalBytes / kFiles;
  for (int i = 0; i < kFiles; ++i) {
    const std::size_t size = average / 4 + random.Next() % (average * 3 / 2);
    const bool compressible = i % 2 == 0;
    const std::string name = "Data/Zone" + std::to_string(i % 10) + "/Part" +
                             std::to_string((i / 10) % 20) + "/file" + std::to_string(i) +
                             (compressible ? ".txt" : ".bin");
    const std::string data = Contents(random, size, compressible);
    zip_fileinfo info{};
    info.tmz_date = {22, 17, 11, 13, 3, 2009};
    info.external_fa = 0x20;
    if (zipOpenNewFileInZip(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                            compressible ? Z_DEFLATED : 0, compressible ? 6 : 0) != 0 ||
        zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())) != 0 ||
        zipCloseFileInZip(zip) != 0) {
      zipClose(zip, nullptr);
      return false;
    }
  }
  return zipClose(zip, nullptr) == 0;
}

// This process's peak resident size in KiB, from /proc/self/status.
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// What the installer does with one archive.
int ExtractLikeTheInstaller(const char* archive, const char* folder, const char* peakFile) {
  if (chdir(folder) != 0) return 1;
  const std::u16string path = fs::path(archive).u16string();
  const tarvo::ZipHandle zip = tarvo::ZipOpenArchive(path.c_str());
  if (zip == nullptr) return 1;
  tarvo::ZipItem item{};
  tarvo::ZipGetItem(zip, -1, &item);
  int failures = 0;
  for (std::int32_t i = 0, count = item.index; i < count; ++i) {
    failures += tarvo::ZipGetItem(zip, i, &item) != tarvo::ZIP_OK;
    failures += tarvo::ZipExtractItem(zip, i, item.name) != tarvo::ZIP_OK;
  }
  tarvo::ZipCloseArchive(zip);
  std::ofstream(peakFile) << PeakResidentKiB() << "\n";
  return failures == 0 ? 0 : 1;
}

struct Run {
  double seconds = 0;
  double cpuSeconds = 0;
  double peakMiB = 0;
  bool ok = false;
};

Run Measure(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  Run run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return run;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--extract") {
    return ExtractLikeTheInstaller(argv[2], argv[3], argv[4]);
  }
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const fs::path work =
      fs::temp_directory_path() / ("tarvo-unzip-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  const fs::path archive = work / "game.zip";
  std::printf("making %s (%d files, %llu MiB)...\n", archive.c_str(), kFiles,
              static_cast<unsigned long long>(kTotalBytes >> 20));
  if (!MakeArchive(archive)) {
    std::fprintf(stderr, "could not make the archive\n");
    fs::remove_all(work);
    return 1;
  }
  std::printf("archive: %.1f MiB\n", static_cast<double>(fs::file_size(archive)) / (1 << 20));

  const std::string self = fs::read_symlink("/proc/self/exe").string();
  std::vector<double> oursTimes, unzipTimes, oursCpu, unzipCpu, oursPeaks, unzipPeaks;
  for (int round = 0; round < rounds; ++round) {
    // Alternate which goes first, so that neither always meets the other's cache state.
    for (int turn = 0; turn < 2; ++turn) {
      const bool ours = (round + turn) % 2 == 0;
      const fs::path out = work / "out";
      fs::remove_all(out);
      fs::create_directories(out);
      const fs::path peakFile = work / "peak";
      Run run =
          ours ? Measure({self, "--extract", archive.string(), out.string(), peakFile.string()})
               : Measure({"unzip", "-o", "-q", archive.string(), "-d", out.string()});
      if (ours) {
        std::ifstream peak(peakFile);
        long kib = -1;
        peak >> kib;
        run.peakMiB = static_cast<double>(kib) / 1024.0;
      }
      std::printf("round %d  %-6s wall %7.3f s  cpu %7.3f s  peak RSS %5.1f MiB%s\n", round + 1,
                  ours ? "tarvo" : "unzip", run.seconds, run.cpuSeconds, run.peakMiB,
                  run.ok ? "" : "  FAILED");
      (ours ? oursTimes : unzipTimes).push_back(run.seconds);
      (ours ? oursCpu : unzipCpu).push_back(run.cpuSeconds);
      (ours ? oursPeaks : unzipPeaks).push_back(run.peakMiB);
    }
  }
  fs::remove_all(work);
  const double ratio = Median(oursTimes) / Median(unzipTimes);
  std::printf("median wall time: tarvo %.3f s, unzip %.3f s, ratio %.3f (target <= 1.0)\n",
              Median(oursTimes), Median(unzipTimes), ratio);
  std::printf("median CPU time (user + system): tarvo %.3f s, unzip %.3f s, ratio %.3f\n",
              Median(oursCpu), Median(unzipCpu), Median(oursCpu) / Median(unzipCpu));
  std::printf("peak RSS: tarvo %.1f MiB (target <= 8), unzip %.1f MiB\n",
              *std::max_element(oursPeaks.begin(), oursPeaks.end()),
              *std::max_element(unzipPeaks.begin(), unzipPeaks.end()));
  return 0;
}
