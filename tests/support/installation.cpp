#include "support/installation.h"

#include <sstream>
#include <thread>

namespace tarvo::test {

namespace fs = std::filesystem;

Installation::Installation(bool withClient, bool signedUpdates) {
  fs::create_directory(dir());
  fs::copy_file(signedUpdates ? TARVO_SIGNED_EXE_PATH : TARVO_EXE_PATH, exe());
  if (withClient) fs::copy_file(TARVO_STUB_CLIENT_PATH, dir() / "Velmora.exe");
}

fs::path Installation::exe() const { return dir() / fs::path(TARVO_EXE_PATH).filename(); }

std::string Installation::ClientLog() const { return ReadFile(dir() / "client.log"); }

std::vector<ClientStart> Installation::WaitForClient(std::chrono::milliseconds timeout,
                                                     std::size_t count) const {
  const auto end = std::chrono::steady_clock::now() + timeout;
  std::vector<ClientStart> starts = ClientStarts();
  while (starts.size() < count && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    starts = ClientStarts();
  }
  return starts;
}

std::vector<ClientStart> Installation::ClientStarts() const {
  std::vector<ClientStart> starts;
  std::istringstream log(ClientLog());
  std::string line;
  while (std::getline(log, line)) {
    if (line.rfind("start", 0) == 0) {
      ClientStart start;
      for (std::size_t open = line.find('['); open != std::string::npos;
           open = line.find('[', open + 1)) {
        const std::size_t close = line.find(']', open);
        if (close == std::string::npos) break;
        start.arguments.push_back(line.substr(open + 1, close - open - 1));
      }
      starts.push_back(start);
    } else if (line.rfind("cwd ", 0) == 0 && !starts.empty()) {
      starts.back().directory = line.substr(4);
    } else if (line.rfind("fds", 0) == 0 && !starts.empty()) {
      starts.back().descriptors = line.substr(3);
    }
  }
  return starts;
}

}  // namespace tarvo::test
