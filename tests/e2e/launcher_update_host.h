#pragma once
// A temporary installation whose launcher meets the update_host fixture: nginx on the
// launcher's own update host, with tools/update_server.py behind it for pages with fault
// rules. Archives live under a folder of the test's own; the version list is the host's one
// page, so tests of this kind take the CTest RESOURCE_LOCK update_host.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "e2e/install_fixture.h"
#include "support/test_servers.h"
#include "support/test_support.h"

namespace tarvo::test {

class LauncherUpdateHost : public InstallFixture {
 protected:
  explicit LauncherUpdateHost(bool signedUpdates = false) : InstallFixture(signedUpdates) {}
  void SetUp() override;
  void TearDown() override;

  // The path of an archive on the host, and its URL.
  std::string Uri(const std::string& name) const;
  std::string ArchiveUrl(const std::string& name) const;
  // Publishes a zip archive of one item and returns its bytes; or publishes `bytes` as they are.
  std::string Publish(const std::string& name, std::size_t size);
  void PublishBytes(const std::string& name, const std::string& bytes);
  // The version list: one entry per pair of 13 version characters and URL, between markup.
  void PublishList(const std::vector<std::pair<std::string, std::string>>& entries);
  // The worked example's list: 1.2, 1.3 and 2.1, each named after its versions.
  void PublishList();
  // Has update_server.py answer the version list with these fault rules ("stall=headers").
  void SetListFaults(const std::string& rules);

  // Requests nginx logged for an archive, waiting a little for one still being answered.
  int Requests(const std::string& name) const;

  TestServers servers_;
  std::string folder_;
};

}  // namespace tarvo::test
