// Stands in for the game client in end-to-end tests. Appends one record of how it was started
// (its arguments and its current directory; on POSIX also the descriptors it was given beyond
// the standard streams) to "client.log" beside itself; the record appears whole, by rename, so
// a test that sees the file can read it. Clients started together (two launchers at once) take
// turns: a folder beside the log, made by one client at a time, is their lock.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#ifndef _WIN32
#include <dirent.h>
#endif

namespace {

// The open descriptors above 2, as the client found them before opening anything itself.
std::string InheritedDescriptors() {
  std::string list;
#ifndef _WIN32
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return "?";
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || std::stoi(name) <= 2 || std::stoi(name) == dirfd(dir)) {
      continue;
    }
    list += " " + name;
  }
  closedir(dir);
#endif
  return list;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const std::string descriptors = InheritedDescriptors();
  const fs::path self = fs::absolute(fs::path(argv[0]));
  const fs::path log = self.parent_path() / "client.log";
  // Making a folder succeeds for one caller alone, on every system. A client that cannot have
  // the lock within a minute writes all the same: a lost record fails the test that wants it.
  // One whose installation is gone (its test ended first) stops at once.
  const fs::path lock = self.parent_path() / "client.log.lock";
  std::error_code locking;
  for (int attempt = 0; attempt < 3000 && !fs::create_directory(lock, locking) && !locking;
       ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  struct Unlock {
    fs::path path;
    ~Unlock() {
      std::error_code ignored;
      fs::remove(path, ignored);
    }
  } unlock{lock};
  std::ostringstream record;
  if (fs::exists(log)) {
    std::ifstream in(log, std::ios::binary);
    record << in.rdbuf();
  }
  record << "start";
  for (int i = 1; i < argc; ++i) record << " [" << argv[i] << "]";
  record << "\ncwd " << fs::current_path().string() << "\n";
  record << "fds" << descriptors << "\n";
  const fs::path temporary = self.parent_path() / "client.log.tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << record.str();
  }
  // A test reading the log keeps Windows from replacing it for a moment; the record waits.
  std::error_code error;
  for (int attempt = 0; attempt < 250; ++attempt) {
    fs::rename(temporary, log, error);
    if (!error) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return error ? 1 : 0;
}
