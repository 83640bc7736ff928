// Ways of putting an installation's new files on the disk, compared on one file system: 2,000
// files of 150 KB written beside their targets in 20 folders and renamed over them, as an
// archive's items are, then made durable by
//   none       nothing (what bsdtar and unzip do)
//   syncfs     one syncfs of the file system at the end
//   started    sync_file_range(SYNC_FILE_RANGE_WRITE) of each file as it is closed, then one
//              syncfs (what the launcher does on POSIX)
//   fdatasync  fdatasync of each file before its rename, fsync of each folder at the end
//   fsync      fsync of each file before its rename, fsync of each folder at the end
// The ways take turns in each round; the disk is synced before each. Prints every run, then the
// median and fastest of each (the machine may be shared: the fastest is the one least slowed by
// others). Passes or fails nothing.
//   flush_bench FOLDER [ROUNDS (3)]

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kFiles = 2000;
constexpr int kFolders = 20;
constexpr std::size_t kFileBytes = 150 * 1000;
const std::vector<std::string> kWays = {"none", "syncfs", "started", "fdatasync", "fsync"};

bool Flush(const std::string& path, bool data) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool ok = fd >= 0 && (data ? fdatasync(fd) : fsync(fd)) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

// Seconds to write the files under `root` the given way; negative on a failure.
double Install(const std::string& root, const std::string& way, std::vector<char>& bytes) {
  const auto began = std::chrono::steady_clock::now();
  for (int f = 0; f < kFolders; ++f) mkdir((root + "/" + std::to_string(f)).c_str(), 0777);
  for (int i = 0; i < kFiles; ++i) {
    const std::string target = root + "/" + std::to_string(i % kFolders) + "/" + std::to_string(i);
    const std::string temporary = target + ".tvnew";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    bytes[0] = static_cast<char>(i);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      return -1;
    }
    if (way == "started") sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    if ((way == "fdatasync" && fdatasync(fd) != 0) || (way == "fsync" && fsync(fd) != 0)) return -1;
    if (close(fd) != 0 || rename(temporary.c_str(), target.c_str()) != 0) return -1;
  }
  if (way == "fdatasync" || way == "fsync") {
    for (int f = 0; f < kFolders; ++f) {
      if (!Flush(root + "/" + std::to_string(f), false)) return -1;
    }
  }
  if (way == "syncfs" || way == "started") {
    const int fd = open(root.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || syncfs(fd) != 0) return -1;
    close(fd);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: flush_bench FOLDER [ROUNDS]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int rounds = argc == 3 ? std::atoi(argv[2]) : 3;
  std::vector<char> bytes(kFileBytes);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i * 7 % 26);
  std::map<std::string, std::vector<double>> runs;
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t k = 0; k < kWays.size(); ++k) {
      const std::string& way = kWays[(k + static_cast<std::size_t>(round)) % kWays.size()];
      const std::string root = folder + "/flush-" + way;
      std::filesystem::remove_all(root);
      std::filesystem::create_directories(root);
      sync();
      const double seconds = Install(root, way, bytes);
      std::filesystem::remove_all(root);
      if (seconds < 0) {
        std::perror(way.c_str());
        return 1;
      }
      runs[way].push_back(seconds);
      std::printf("round %d %-9s %6.3f s\n", round + 1, way.c_str(), seconds);
      std::fflush(stdout);
    }
  }
  std::printf("\nmedian and fastest of %d rounds:\n", rounds);
  for (const std::string& way : kWays) {
    std::vector<double> times = runs[way];
    std::sort(times.begin(), times.end());
    std::printf("%-9s median %6.3f s  fastest %6.3f s\n", way.c_str(), times[times.size() / 2],
                times.front());
  }
  return 0;
}
