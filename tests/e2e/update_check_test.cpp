// The launcher's update check against nginx on its own update host: which archives it asks
// for, where they land, and when it ends.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <thread>

#include "support/installation.h"
#include "support/test_servers.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

class LauncherUpdateCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    auto servers = test::TestServers::Require("update_host");
    if (!servers) GTEST_SKIP() << "needs the update_host fixture: run through ctest";
    servers_ = *servers;
    // Archives live under a folder of this test's own; the version list is the host's one page.
    folder_ = "t";
    folder_.append(std::to_string(std::random_device{}()));
    fs::create_directories(servers_.docroot / folder_ / "updates");
    fs::create_directories(install_.dir() / "UpdateZip");
    fs::create_directories(install_.dir() / "Sys");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove(servers_.docroot / "zip.html", ignored);
    fs::remove_all(servers_.docroot / folder_, ignored);
  }

  void Record(int first, int second) {
    std::string config = "[VERSION]\r\nFirstVersion=";
    config.append(std::to_string(first)).append("\r\nSecondVersion=");
    config.append(std::to_string(second)).append("\r\n");
    test::WriteFile(install_.dir() / "Sys" / "Config.ini", config);
  }
  std::string Uri(const std::string& name) const {
    // Appended piece by piece: GCC 12 warns wrongly (-Wrestrict) on chains of "text" + string.
    std::string uri = "/";
    uri.append(folder_).append("/updates/").append(name);
    return uri;
  }
  // Publishes an archive and returns its bytes.
  std::string Publish(const std::string& name, std::size_t size) {
    std::string item = "data/";
    item.append(name).append(".bin");
    const std::string bytes = test::BuildZip({{item, test::PatternBytes(size)}});
    test::WriteFile(servers_.docroot / folder_ / "updates" / name, bytes);
    return bytes;
  }
  // The worked example's list: 1.2, 1.3 and 2.1, between other markup.
  void PublishList() {
    std::string page = "<html><body><h1>Velmora</h1>\r\n<vlVersionList>\r\n";
    for (const char* version : {"0000100000002", "0000100000003", "0000200000001"}) {
      page.append("<Version>").append(version).append("http://127.0.0.1:");
      page.append(std::to_string(servers_.nginx_port)).append(Uri(std::string(version) + ".zip"));
      page.append("</Version>\r\n");
    }
    page += "</vlVersionList>\r\n</body></html>\r\n";
    test::WriteFile(servers_.docroot / "zip.html", page);
  }
  int RunLauncher() {
    test::Process tarvo(install_.exe(), {}, install_.dir());
    EXPECT_TRUE(tarvo.started());
    return tarvo.Wait(seconds(90)).value_or(-1);
  }
  fs::path Pending(const std::string& name) const { return install_.dir() / "UpdateZip" / name; }
  // nginx logs a request when it ends; a transfer cut by the launcher's end is logged then.
  int Requests(const std::string& name) const {
    int count = servers_.RequestsFor(Uri(name));
    for (int i = 0; i < 100 && count == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      count = servers_.RequestsFor(Uri(name));
    }
    return count;
  }

  test::TestServers servers_;
  std::string folder_;
  test::Installation install_;
};

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

TEST_F(LauncherUpdateCheck, StartsEveryQualifyingDownloadAndEndsOnTheFirstToFinish) {
  Record(1, 1);
  // Both large enough that each worker has sent its request before either has finished.
  const std::string small = Publish("0000100000002.zip", 24 << 20);
  const std::string large = Publish("0000100000003.zip", 48 << 20);
  Publish("0000200000001.zip", 1000);
  PublishList();

  EXPECT_EQ(RunLauncher(), 0);

  EXPECT_EQ(Requests("0000100000002.zip"), 1);
  EXPECT_EQ(Requests("0000100000003.zip"), 1);
  EXPECT_EQ(servers_.RequestsFor(Uri("0000200000001.zip")), 0);
  // Whatever landed is whole; a transfer cut short by the launcher's end left no archive.
  if (fs::exists(Pending("0000100000002.zip"))) {
    EXPECT_TRUE(test::ReadFile(Pending("0000100000002.zip")) == small);
  }
  if (fs::exists(Pending("0000100000003.zip"))) {
    EXPECT_TRUE(test::ReadFile(Pending("0000100000003.zip")) == large);
  }
  EXPECT_TRUE(fs::exists(Pending("0000100000002.zip")) || fs::exists(Pending("0000100000003.zip")));
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
