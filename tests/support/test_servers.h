#pragma once
// The HTTP servers on 127.0.0.1 that CTest fixtures start for the tests (tools/test_servers.py,
// registered in tests/CMakeLists.txt):
//   "net_servers"  nginx and tools/update_server.py (fault modes) on free ports
//   "update_host"  nginx on the port of TARVO_UPDATE_HOST, where the launcher finds its version
//                  list (tests using it take the CTest RESOURCE_LOCK "update_host")
// Each fixture serves its own document root; a test publishes files there under names of its
// own (PublishedFile) and fetches them by URL.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::test {

struct TestServers {
  // The servers of `fixture`, read from the state that its start left in the folder named by
  // the environment variable TARVO_TEST_SERVERS. Nothing when that variable is not set (the
  // test program runs outside CTest); `error` then stays empty. When the variable is set but
  // the state cannot be read, nothing either, with `error` saying why.
  static std::optional<TestServers> Find(const std::string& fixture, std::string* error);
  // Find for a test: nothing outside CTest (the test should skip), and a test failure added
  // when the fixture's state cannot be read.
  static std::optional<TestServers> Require(const std::string& fixture);

  std::filesystem::path docroot;
  // nginx's log: one line per request ended, "URI STATUS BODY_BYTES_SENT".
  std::filesystem::path access_log;
  // nginx's log of user agents: one line per request ended, "URI USER_AGENT".
  std::filesystem::path agents_log;
  // tools/update_server.py's log: "start GROUP ACTIVE" as each request of a group is read.
  std::filesystem::path faults_log;
  int nginx_port = 0;      // 0 when the fixture runs no nginx
  int faults_port = 0;     // 0 when the fixture runs no update server
  int blackhole_port = 0;  // connection attempts to it are never answered; 0 without one

  // "http://127.0.0.1:PORT/NAME", with "?QUERY" when there is one.
  std::string NginxUrl(const std::string& name) const;
  std::string FaultsUrl(const std::string& name, const std::string& query = "") const;
  // How many requests for `uri` ("/a/b.zip") nginx has logged so far.
  int RequestsFor(const std::string& uri) const;
  // nginx's answers to the requests for `uri`, in order: "STATUS BODY_BYTES_SENT".
  std::vector<std::string> ResponsesFor(const std::string& uri) const;
  // The user agents of the requests for `uri` that nginx has logged so far, oldest first.
  std::vector<std::string> AgentsFor(const std::string& uri) const;
  // The most requests of `group` that the update server answered at once, and how many it read.
  std::pair<int, int> GroupRequests(const std::string& group) const;
  // The update server's answers to the requests of `group`, in order: "STATUS RANGE", RANGE
  // being the request's Range header or "-".
  std::vector<std::string> Answers(const std::string& group) const;
};

// A test that uses the "net_servers" fixture: skipped when the test program runs outside CTest,
// failed when the fixture's state cannot be read.
class NetServersTest : public ::testing::Test {
 protected:
  void SetUp() override;
  TestServers servers_;
};

// A file in a document root under a name that no other test uses, ending in `suffix`. Removed,
// with its ".fault" rules, when the object goes.
class PublishedFile {
 public:
  PublishedFile(const std::filesystem::path& docroot, const std::string& bytes,
                const std::string& suffix = ".zip");
  PublishedFile(const PublishedFile&) = delete;
  PublishedFile& operator=(const PublishedFile&) = delete;
  ~PublishedFile();

  // The file's name, which is also its URL path without the leading "/".
  const std::string& name() const { return name_; }
  // Gives the update server fault rules for this file ("status=500&length=none"), for clients
  // whose URL carries no query.
  void SetFaults(const std::string& rules) const;

 private:
  std::filesystem::path docroot_;
  std::string name_;
};

// `size` bytes that differ from offset to offset, so that a shifted or cut copy never matches.
std::string PatternBytes(std::size_t size);

}  // namespace tarvo::test
