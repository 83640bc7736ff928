#include "publish/guard_rails/served_files.h"

#include <set>

namespace tarvo::publish {

namespace fs = std::filesystem;

namespace {

std::string Mode(fs::perms perms) {
  const auto bits = static_cast<unsigned>(perms & fs::perms::mask);
  return std::string{'0', static_cast<char>('0' + ((bits >> 6) & 7)),
                     static_cast<char>('0' + ((bits >> 3) & 7)),
                     static_cast<char>('0' + (bits & 7))};
}

}  // namespace

std::vector<std::string> UnservableByOthers(const std::vector<fs::path>& files) {
  std::vector<std::string> problems;
  std::set<fs::path> seen;
  for (const fs::path& file : files) {
    std::error_code error;
    const fs::path whole = fs::weakly_canonical(file, error);
    if (error) continue;
    // The file, then each folder on the way from it to the root.
    for (fs::path path = whole; seen.insert(path).second; path = path.parent_path()) {
      const fs::file_status status = fs::status(path, error);
      if (error) break;
      const bool folder = fs::is_directory(status);
      const fs::perms needed = folder ? fs::perms::others_exec : fs::perms::others_read;
      if ((status.permissions() & needed) == fs::perms::none) {
        problems.push_back(path.string() + " (mode " + Mode(status.permissions()) +
                           "): others may not " + (folder ? "enter it" : "read it") +
                           ", so a web server running as another user answers 403; chmod o+" +
                           (folder ? "x " : "r ") + path.string());
      }
      if (path == path.parent_path()) break;
    }
  }
  return problems;
}

}  // namespace tarvo::publish
