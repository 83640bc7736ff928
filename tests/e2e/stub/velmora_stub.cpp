// Stands in for the game client in end-to-end tests. Appends one record of how it was started
// (its arguments and its current directory) to "client.log" beside itself; the record appears
// whole, by rename, so a test that sees the file can read it. Two clients running at once could
// lose a record: a test that starts the client twice waits for the first record in between.

#include <filesystem>
#include <fstream>
#include <sstream>

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path self = fs::absolute(fs::path(argv[0]));
  const fs::path log = self.parent_path() / "client.log";
  std::ostringstream record;
  if (fs::exists(log)) {
    std::ifstream in(log, std::ios::binary);
    record << in.rdbuf();
  }
  record << "start";
  for (int i = 1; i < argc; ++i) record << " [" << argv[i] << "]";
  record << "\ncwd " << fs::current_path().string() << "\n";
  const fs::path temporary = self.parent_path() / "client.log.tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << record.str();
  }
  fs::rename(temporary, log);
  return 0;
}
