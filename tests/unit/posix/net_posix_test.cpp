// What the POSIX Internet layer adds to stand in for WinINet's defaults: a finite receive
// time-out (30 s) that a download worker runs into when its server stops sending.

#include <gtest/gtest.h>

#include <filesystem>

#include "common/utf.h"
#include "net/fetch_archive.h"
#include "support/test_servers.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

TEST(PosixDownload, AServerThatStopsSendingFailsTheWorkerAfterTheDefaultReceiveTimeout) {
  std::string error;
  const auto servers = test::TestServers::Find("net_servers", &error);
  if (!servers) {
    if (error.empty()) GTEST_SKIP() << "needs the net_servers fixture: run through ctest";
    FAIL() << error;
  }
  test::PublishedFile file(servers->docroot, test::PatternBytes(100000));
  test::TempDir dir;
  const auto destination = dir.path() / "a.zip";

  EXPECT_FALSE(FetchArchive({Utf8ToUtf16(servers->FaultsUrl(file.name(), "stall=50000")),
                             test::CoreText(destination)}));
  EXPECT_FALSE(std::filesystem::exists(destination));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "a.zip.part"));
}

}  // namespace
}  // namespace tarvo
