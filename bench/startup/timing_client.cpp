// A client for the start-up benchmark: writes the monotonic clock, in nanoseconds, at the
// moment it runs to "client.time" beside itself.

#include <chrono>
#include <filesystem>
#include <fstream>

int main(int, char** argv) {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  const auto path = std::filesystem::absolute(argv[0]).parent_path() / "client.time";
  std::ofstream(path) << std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
  return 0;
}
