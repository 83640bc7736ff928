#include "support/test_servers.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "support/test_support.h"

namespace tarvo::test {

std::optional<TestServers> TestServers::Find(const std::string& fixture, std::string* error) {
  const char* dir = std::getenv("TARVO_TEST_SERVERS");
  if (dir == nullptr || dir[0] == 0) return std::nullopt;
  const std::filesystem::path folder(dir);
  std::ifstream state(folder / (fixture + ".env"));
  if (!state) {
    *error = "no state of the fixture " + fixture + " in " + folder.string();
    return std::nullopt;
  }
  TestServers servers;
  // The fixture's document root as the test program reaches it (through drive Z: under Wine).
  servers.docroot = folder / (fixture + ".root");
  servers.access_log = folder / (fixture + ".env.run") / "access.log";
  servers.agents_log = folder / (fixture + ".env.run") / "agents.log";
  servers.faults_log = folder / (fixture + ".env.run") / "faults.log";
  std::string line;
  while (std::getline(state, line)) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "nginx_port") servers.nginx_port = std::atoi(value.c_str());
    if (key == "faults_port") servers.faults_port = std::atoi(value.c_str());
    if (key == "blackhole_port") servers.blackhole_port = std::atoi(value.c_str());
  }
  if (servers.nginx_port == 0 && servers.faults_port == 0) {
    *error = "the fixture " + fixture + " names no server";
    return std::nullopt;
  }
  return servers;
}

int TestServers::RequestsFor(const std::string& uri) const {
  return static_cast<int>(ResponsesFor(uri).size());
}

namespace {

// What follows "<uri> " on each line of a server log that starts so.
std::vector<std::string> LinesFor(const std::filesystem::path& logPath, const std::string& uri) {
  std::ifstream log(logPath);
  std::vector<std::string> found;
  std::string line;
  while (std::getline(log, line)) {
    if (line.rfind(uri + " ", 0) == 0) found.push_back(line.substr(uri.size() + 1));
  }
  return found;
}

}  // namespace

std::vector<std::string> TestServers::ResponsesFor(const std::string& uri) const {
  return LinesFor(access_log, uri);
}

std::vector<std::string> TestServers::AgentsFor(const std::string& uri) const {
  return LinesFor(agents_log, uri);
}

std::pair<int, int> TestServers::GroupRequests(const std::string& group) const {
  std::ifstream log(faults_log);
  int most = 0;
  int count = 0;
  std::string line;
  while (std::getline(log, line)) {
    std::istringstream fields(line);
    std::string word, name;
    int active = 0;
    if (!(fields >> word >> name >> active) || word != "start" || name != group) continue;
    most = std::max(most, active);
    ++count;
  }
  return {most, count};
}

std::vector<std::string> TestServers::Answers(const std::string& group) const {
  std::ifstream log(faults_log);
  std::vector<std::string> answers;
  const std::string head = "answer " + group + " ";
  std::string line;
  while (std::getline(log, line)) {
    if (line.compare(0, head.size(), head) == 0) answers.push_back(line.substr(head.size()));
  }
  return answers;
}

std::optional<TestServers> TestServers::Require(const std::string& fixture) {
  std::string error;
  auto servers = Find(fixture, &error);
  if (!servers && !error.empty()) ADD_FAILURE() << error;
  return servers;
}

void NetServersTest::SetUp() {
  auto found = TestServers::Require("net_servers");
  if (!found) GTEST_SKIP() << "needs the net_servers fixture: run through ctest";
  servers_ = *found;
}

namespace {

std::string Url(int port, const std::string& name, const std::string& query) {
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/" + name;
  if (!query.empty()) url += "?" + query;
  return url;
}

}  // namespace

std::string TestServers::NginxUrl(const std::string& name) const {
  return Url(nginx_port, name, "");
}

std::string TestServers::FaultsUrl(const std::string& name, const std::string& query) const {
  return Url(faults_port, name, query);
}

PublishedFile::PublishedFile(const std::filesystem::path& docroot, const std::string& bytes,
                             const std::string& suffix)
    : docroot_(docroot) {
  static std::atomic<unsigned> counter{0};
  std::ostringstream name;
  name << "t" << std::random_device{}() << "-" << counter++ << suffix;
  name_ = name.str();
  WriteFile(docroot_ / name_, bytes);
}

PublishedFile::~PublishedFile() {
  std::error_code ignored;
  std::filesystem::remove(docroot_ / name_, ignored);
  std::filesystem::remove(docroot_ / (name_ + ".fault"), ignored);
}

void PublishedFile::SetFaults(const std::string& rules) const {
  WriteFile(docroot_ / (name_ + ".fault"), rules);
}

std::string PatternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 131 + i / 251 + 7) & 0xFF);
  }
  return bytes;
}

}  // namespace tarvo::test
