// The launcher's update check against nginx on its own update host: which archives it asks
// for, where they land, and when it ends.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <thread>

#include "e2e/launcher_update_host.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

using LauncherUpdateCheck = test::LauncherUpdateHost;

TEST_F(LauncherUpdateCheck, DownloadsTheOneNewerArchiveAndEndsWhenItIsStored) {
  Record(1, 2);
  Publish("0000100000002.zip", 1000);
  const std::string newer = Publish("0000100000003.zip", 3 << 20);
  Publish("0000200000001.zip", 1000);
  PublishList();

  EXPECT_EQ(RunLauncher(), 0);

  // The launcher ended on the worker's message, which comes after the archive is in place.
  EXPECT_TRUE(test::ReadFile(Pending("0000100000003.zip")) == newer);
  EXPECT_EQ(Requests("0000100000003.zip"), 1);
  EXPECT_EQ(servers_.RequestsFor(Uri("0000100000002.zip")), 0);
  EXPECT_EQ(servers_.RequestsFor(Uri("0000200000001.zip")), 0);
  EXPECT_FALSE(fs::exists(Pending("0000100000002.zip")));
  EXPECT_EQ(install_.WaitForClient(seconds(20)).size(), 1u);
}

TEST_F(LauncherUpdateCheck, StartsEveryQualifyingDownloadAndEndsOnceOneIsStored) {
  Record(1, 1);
  // update_server.py behind nginx notes the request for the older archive and never answers
  // it; the newer one is answered only once the older one has been asked for.
  Publish("0000100000002.zip", 1000);
  test::WriteFile(servers_.docroot / folder_ / "updates" / "0000100000002.zip.fault",
                  "stall=headers&group=" + folder_);
  const std::string newer = Publish("0000100000003.zip", 5000);
  test::WriteFile(servers_.docroot / folder_ / "updates" / "0000100000003.zip.fault",
                  "wait=" + folder_ + ":1");
  Publish("0000200000001.zip", 1000);
  PublishList();

  EXPECT_EQ(RunLauncher(), 0);

  EXPECT_EQ(servers_.GroupRequests(folder_).second, 1);
  EXPECT_TRUE(test::ReadFile(Pending("0000100000003.zip")) == newer);
  EXPECT_FALSE(fs::exists(Pending("0000100000002.zip")));
  EXPECT_EQ(servers_.RequestsFor(Uri("0000200000001.zip")), 0);
}

TEST_F(LauncherUpdateCheck, WithoutAConfigurationNothingIsRequested) {
  Publish("0000100000003.zip", 1000);
  PublishList();
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(servers_.RequestsFor(Uri("0000100000002.zip")), 0);
  EXPECT_EQ(servers_.RequestsFor(Uri("0000100000003.zip")), 0);
  EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
  EXPECT_EQ(install_.WaitForClient(seconds(20)).size(), 1u);
}

TEST_F(LauncherUpdateCheck, AMissingVersionListPlansNothing) {
  Record(1, 2);
  Publish("0000100000003.zip", 1000);  // no zip.html: nginx answers 404 with a page of its own
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(servers_.RequestsFor(Uri("0000100000003.zip")), 0);
  EXPECT_EQ(install_.WaitForClient(seconds(20)).size(), 1u);
}

TEST_F(LauncherUpdateCheck, AVersionListBeyondTheLimitIsNotPlanned) {
  Record(1, 2);
  Publish("0000100000003.zip", 1000);
  PublishList();
  // The same list followed by more text than a version list may have.
  std::string page = test::ReadFile(servers_.docroot / "zip.html");
  page.append((std::size_t{64} << 20) + 1, ' ');
  test::WriteFile(servers_.docroot / "zip.html", page);

  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(servers_.RequestsFor(Uri("0000100000003.zip")), 0);
  EXPECT_EQ(install_.WaitForClient(seconds(20)).size(), 1u);
}

// The road of one update over two starts: downloaded at the first, installed at the second.
TEST_F(LauncherUpdateCheck, AnUpdateIsInstalledAtTheNextStartAndNotFetchedAgain) {
  Record(1, 2);
  fs::create_directories(install_.dir() / "data");
  test::WriteFile(install_.dir() / "data" / "keep.txt", "kept");
  Publish("0000100000002.zip", 1000);
  Publish("0000100000003.zip", 5000);
  Publish("0000200000001.zip", 1000);
  PublishList();

  EXPECT_EQ(RunLauncher(), 0);
  ASSERT_TRUE(fs::exists(Pending("0000100000003.zip")));
  // The stub client appends its record by rewriting its log: one client at a time.
  ASSERT_EQ(install_.WaitForClient(seconds(20)).size(), 1u);
  EXPECT_EQ(RunLauncher(), 0);

  EXPECT_TRUE(test::ReadFile(install_.dir() / "data" / "0000100000003.zip.bin") ==
              test::PatternBytes(5000));
  EXPECT_EQ(test::ReadFile(install_.dir() / "data" / "keep.txt"), "kept");
  const std::string config = test::ReadFile(install_.dir() / "Sys" / "Config.ini");
  EXPECT_NE(config.find("FirstVersion=1"), std::string::npos) << config;
  EXPECT_NE(config.find("SecondVersion=3"), std::string::npos) << config;
  EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
  EXPECT_EQ(Requests("0000100000003.zip"), 1) << "not fetched again once installed";
  EXPECT_EQ(install_.WaitForClient(seconds(20), 2).size(), 2u);
}

}  // namespace
}  // namespace tarvo
