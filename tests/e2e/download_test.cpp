// A download worker in a process of its own (tests/e2e/stub/download_runner.cpp), stopped
// midway as a launcher is when another worker's message ends it; and the server fixture on the
// launcher's own update host.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/utf.h"
#include "support/test_servers.h"
#include "support/test_support.h"
#include "support/zip_builder.h"
#include "update/version_list_url.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

std::vector<std::string> ZipFilesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".zip") == 0) names.push_back(name);
  }
  return names;
}

// Waits until a part file in `folder` holds at least `bytes`; false after 60 s.
bool WaitForPartFile(const fs::path& folder, std::uintmax_t bytes) {
  for (int i = 0; i < 3000; ++i) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      std::error_code error;
      const auto size = fs::file_size(entry.path(), error);
      if (entry.path().extension() == ".part" && !error && size >= bytes) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST(DownloadStoppedMidway, LeavesNoArchiveAndAnOlderOneIntact) {
  const auto servers = test::TestServers::Require("net_servers");
  if (!servers) GTEST_SKIP() << "needs the net_servers fixture: run through ctest";
  test::PublishedFile file(servers->docroot, test::PatternArchive(1024 * 1024));
  // Half the archive arrives, then the server holds the connection open without sending.
  const std::string url = servers->FaultsUrl(file.name(), "stall=524288");
  test::TempDir folder;

  for (const bool older : {false, true}) {
    SCOPED_TRACE(older ? "over an older archive" : "into an empty folder");
    const fs::path destination = folder.path() / "0000100000003.zip";
    if (older) test::WriteFile(destination, "stored earlier");
    test::Process runner(TARVO_DOWNLOAD_RUNNER_PATH, {url, destination.string()}, folder.path());
    ASSERT_TRUE(runner.started());
    ASSERT_TRUE(WaitForPartFile(folder.path(), 400000)) << "no transfer under way";
    runner.Kill();  // SIGKILL, TerminateProcess
    ASSERT_TRUE(runner.Wait(seconds(30)).has_value());

    if (older) {
      EXPECT_EQ(test::ReadFile(destination), "stored earlier");
      EXPECT_EQ(ZipFilesIn(folder.path()), std::vector<std::string>{"0000100000003.zip"});
    } else {
      EXPECT_EQ(ZipFilesIn(folder.path()), std::vector<std::string>{});
    }
  }
}

TEST(UpdateHostFixture, ServesItsDocumentRootWhereTheLauncherLooks) {
  const auto servers = test::TestServers::Require("update_host");
  if (!servers) GTEST_SKIP() << "needs the update_host fixture: run through ctest";
  const std::string archive = test::PatternArchive(70000);
  test::PublishedFile file(servers->docroot, archive);
  // The launcher's version list address, with the archive's name in place of "zip.html".
  std::string url = Utf16ToUtf8(kVersionListUrl);
  url = url.substr(0, url.rfind('/') + 1) + file.name();
  test::TempDir folder;
  const fs::path destination = folder.path() / "a.zip";

  test::Process runner(TARVO_DOWNLOAD_RUNNER_PATH, {url, destination.string()}, folder.path());
  ASSERT_TRUE(runner.started());
  EXPECT_EQ(runner.Wait(seconds(60)), 0);
  EXPECT_TRUE(test::ReadFile(destination) == archive);
}

}  // namespace
}  // namespace tarvo
