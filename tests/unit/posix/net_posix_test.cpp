// What the POSIX Internet layer adds to stand in for WinINet's defaults: a finite receive
// time-out (30 s unless set), which a download worker runs into when its server stops
// sending, and requests that ask caches on the way for a fresh copy.

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "common/utf.h"
#include "net/fetch_archive.h"
#include "platform/internet.h"
#include "support/test_servers.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

using PosixNetTest = test::NetServersTest;

TEST_F(PosixNetTest, AServerThatStopsSendingFailsAfterTheReceiveTimeout) {
  test::PublishedFile file(servers_.docroot, test::PatternBytes(1000));
  CInternetSession session;
  session.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, 1000);

  const auto stalled =
      session.OpenURL(Utf8ToUtf16(servers_.FaultsUrl(file.name(), "stall=100")).c_str());
  std::vector<char> buffer(1000);
  UINT received = 0;
  EXPECT_THROW(
      {
        while (const UINT got = stalled->Read(buffer.data(), 1000)) received += got;
      },
      CInternetException);
  EXPECT_EQ(received, 100u);

  EXPECT_THROW(
      session.OpenURL(Utf8ToUtf16(servers_.FaultsUrl(file.name(), "stall=headers")).c_str()),
      CInternetException);
}

TEST_F(PosixNetTest, AWorkerWhoseServerStopsSendingGivesUpAfterTheDefaultReceiveTimeout) {
  test::PublishedFile file(servers_.docroot, test::PatternBytes(100000));
  test::TempDir dir;
  const auto destination = dir.path() / "a.zip";
  EXPECT_FALSE(FetchArchive(
      {Utf8ToUtf16(servers_.FaultsUrl(file.name(), "stall=50000")), test::CoreText(destination)}));
  EXPECT_FALSE(std::filesystem::exists(destination));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "a.zip.part"));
}

TEST_F(PosixNetTest, AReloadAsksCachesForAFreshCopy) {
  CInternetSession session;
  const auto request = session.OpenURL(
      Utf8ToUtf16(servers_.FaultsUrl("echo.zip", "echo=1")).c_str(), 1, INTERNET_FLAG_RELOAD);
  std::string head;
  char piece[512];
  while (const UINT got = request->Read(piece, sizeof(piece))) head.append(piece, got);
  EXPECT_NE(head.find("\r\nCache-Control: no-cache\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nPragma: no-cache\r\n"), std::string::npos) << head;
}

}  // namespace
}  // namespace tarvo
