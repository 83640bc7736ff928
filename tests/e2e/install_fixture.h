#pragma once
// A temporary installation of the launcher for end-to-end tests: "Sys\" and "UpdateZip\" made,
// the recorded versions set and read back, the launcher run in it.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/installation.h"

namespace tarvo::test {

class InstallFixture : public ::testing::Test {
 protected:
  // With `signedUpdates`, the launcher trusts only updates signed with the tests' key.
  explicit InstallFixture(bool signedUpdates = false) : install_(true, signedUpdates) {}
  void SetUp() override;

  // Sys\Config.ini with the version pair.
  void Record(int first, int second);
  // The recorded pair as the file holds it, "first/second".
  std::string Recorded() const;
  std::filesystem::path Pending(const std::string& name) const;
  // Runs the launcher in its installation until it ends (`timeout` at most); its exit status.
  int RunLauncher(std::chrono::seconds timeout = std::chrono::seconds(120));

  Installation install_;
};

}  // namespace tarvo::test
