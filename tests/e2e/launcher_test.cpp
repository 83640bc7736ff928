// The real launcher in a temporary installation with a stub client.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/installation.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

TEST(Launcher, StartedThroughARelativePathStartsTheClientInItsOwnCurrentDirectory) {
  test::Installation install;
  const fs::path other = install.root() / "elsewhere";
  fs::create_directory(other);
  const fs::path relative = fs::path("..") / "install" / install.exe().filename();

  test::Process tarvo(relative, {}, other);
  ASSERT_TRUE(tarvo.started());
  EXPECT_EQ(tarvo.Wait(seconds(60)), 0);

  const auto record = install.WaitForClient(seconds(20));
  ASSERT_EQ(record.size(), 1u) << install.ClientLog();
  EXPECT_EQ(record[0].arguments, std::vector<std::string>{"/Show"});
  EXPECT_TRUE(fs::equivalent(record[0].directory, other)) << record[0].directory;
}

TEST(Launcher, EndsByItselfWithoutAClient) {
  test::Installation install(/*withClient=*/false);
  test::Process tarvo(install.exe(), {}, install.dir());
  ASSERT_TRUE(tarvo.started());
  EXPECT_EQ(tarvo.Wait(seconds(60)), 0);
  EXPECT_FALSE(fs::exists(install.dir() / "client.log"));
}

}  // namespace
}  // namespace tarvo
