// A download worker in a process of its own (tests/e2e/stub/download_runner.cpp), stopped
// midway as a launcher is when another worker's message ends it, and started again to continue
// what the first one kept; and the server fixture on the launcher's own update host.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/utf.h"
#include "install/pending_archives.h"
#include "net/disk_budget.h"
#include "platform/internet.h"
#include "support/test_keys.h"
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

fs::path Kept(const fs::path& destination) { return destination.string() + ".kept"; }
fs::path KeptInfo(const fs::path& destination) { return destination.string() + ".kept-info"; }

// Waits until the kept file of `destination` holds at least `bytes`; false after 60 s.
bool WaitForKeptBytes(const fs::path& destination, std::uintmax_t bytes) {
  for (int i = 0; i < 3000; ++i) {
    std::error_code error;
    const auto size = fs::file_size(Kept(destination), error);
    if (!error && size >= bytes) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// Runs a worker for `url` to its end; with `key`, it stores only archives signed with it.
// `options` are the runner's own (window=MS, rate=N).
void RunWorker(const std::string& url, const fs::path& destination, const std::string& key = "",
               const std::vector<std::string>& options = {}) {
  std::vector<std::string> arguments{url, destination.string()};
  if (!key.empty()) arguments.push_back(key);
  arguments.insert(arguments.end(), options.begin(), options.end());
  test::Process runner(TARVO_DOWNLOAD_RUNNER_PATH, arguments, destination.parent_path());
  ASSERT_TRUE(runner.started());
  ASSERT_EQ(runner.Wait(seconds(60)), 0);
}

// Kills a worker for `url` once it has kept `bytes`, as a launcher ends with other transfers
// still running.
void CutWorker(const std::string& url, const fs::path& destination, std::uintmax_t bytes,
               const std::string& key = "") {
  std::vector<std::string> arguments{url, destination.string()};
  if (!key.empty()) arguments.push_back(key);
  test::Process runner(TARVO_DOWNLOAD_RUNNER_PATH, arguments, destination.parent_path());
  ASSERT_TRUE(runner.started());
  ASSERT_TRUE(WaitForKeptBytes(destination, bytes)) << "no transfer under way";
  runner.Kill();  // SIGKILL, TerminateProcess
  ASSERT_TRUE(runner.Wait(seconds(30)).has_value());
}

// Two archives of the same length, each of one stored item of 1 MiB, whose items differ at
// `offsets`: an update replaced by the next one under the same name.
std::pair<std::string, std::string> TwoVersions(const std::vector<std::size_t>& offsets) {
  std::string data = test::PatternBytes(1024 * 1024);
  const std::string first = test::BuildZip({{.name = "data/game.dat", .data = data, .method = 0}});
  for (const std::size_t offset : offsets) data.replace(offset, 6, "CHANGE");
  return {first, test::BuildZip({{.name = "data/game.dat", .data = data, .method = 0}})};
}

// `text` as a value of a URL's query.
std::string QueryValue(const std::string& text) {
  std::string encoded;
  for (const unsigned char c : text) {
    if (std::isalnum(c) != 0) {
      encoded += static_cast<char>(c);
    } else {
      const char* digits = "0123456789ABCDEF";
      encoded += {'%', digits[c >> 4], digits[c & 15]};
    }
  }
  return encoded;
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
    CutWorker(url, destination, 262144);

    if (older) {
      EXPECT_EQ(test::ReadFile(destination), "stored earlier");
      EXPECT_EQ(ZipFilesIn(folder.path()), std::vector<std::string>{"0000100000003.zip"});
    } else {
      EXPECT_EQ(ZipFilesIn(folder.path()), std::vector<std::string>{});
    }
  }
}

// The first cut comes from the update server, sending nginx's own validators; nginx then serves
// the rest as it serves any static file, honouring Range and If-Range.
TEST(DownloadResume, NginxServesTheRestOfTheKeptBytes) {
  const auto servers = test::TestServers::Require("net_servers");
  if (!servers) GTEST_SKIP() << "needs the net_servers fixture: run through ctest";
  const std::string archive = test::PatternArchive(2 * 1024 * 1024);
  test::PublishedFile file(servers->docroot, archive);
  std::u16string etag;
  {
    CInternetSession session;
    const auto head = session.OpenURL(Utf8ToUtf16(servers->NginxUrl(file.name())).c_str());
    ASSERT_TRUE(head->QueryInfo(HTTP_QUERY_ETAG, etag));
  }
  test::TempDir folder;
  const fs::path destination = folder.path() / "0000100000003.zip";

  CutWorker(servers->FaultsUrl(file.name(), "stall=300000&etag=" + QueryValue(Utf16ToUtf8(etag))),
            destination, 262144);
  ASSERT_TRUE(fs::exists(KeptInfo(destination)));
  const std::uintmax_t kept = fs::file_size(Kept(destination));
  RunWorker(servers->NginxUrl(file.name()), destination);

  EXPECT_TRUE(test::ReadFile(destination) == archive);
  EXPECT_FALSE(fs::exists(Kept(destination)));
  EXPECT_FALSE(fs::exists(KeptInfo(destination)));
  // nginx logs a request once it has sent its answer: only the rest was sent.
  const std::string expected = "/" + file.name() + " 206 " + std::to_string(archive.size() - kept);
  bool logged = false;
  for (int i = 0; i < 3000 && !logged; ++i) {
    std::ifstream log(servers->access_log);
    for (std::string line; std::getline(log, line);) logged = logged || line == expected;
    if (!logged) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(logged) << expected;
}

// What nginx never does, from the update server: each case cuts a first transfer (after 300000
// bytes of a body with the given validator), then runs workers against the rules that follow,
// and checks what the server was asked for and answered ("STATUS RANGE"), and what is stored.
TEST(DownloadResume, JoinsOnlyTheRestOfTheSameVersion) {
  const auto servers = test::TestServers::Require("net_servers");
  if (!servers) GTEST_SKIP() << "needs the net_servers fixture: run through ctest";
  const auto [first, replaced] = TwoVersions({1000, 900000});
  const std::string lm = "lastmod=" + QueryValue("Wed, 09 Dec 2026 10:00:00 GMT");
  struct Case {
    const char* what;
    std::string cut;                   // the first transfer's rules
    std::vector<std::string> runs;     // the rules of each later worker
    bool replace;                      // the file is replaced after the cut
    std::vector<std::string> answers;  // to the later workers
  };
  // "FROM" stands for the range of what the cut kept.
  const std::string from = "FROM";
  const std::vector<Case> cases = {
      {"strong ETag", "etag=%22v1%22", {"etag=%22v1%22&ranges=1"}, false, {"206 " + from}},
      {"Last-Modified alone", lm, {lm + "&ranges=1"}, false, {"206 " + from}},
      {"file replaced", "etag=%22v1%22", {"etag=%22v2%22&ranges=1"}, true, {"200 " + from}},
      {"Range ignored", "etag=%22v1%22", {"etag=%22v1%22"}, false, {"200 " + from}},
      {"wrong Content-Range",
       "etag=%22v1%22",
       {"etag=%22v1%22&ranges=1&range=" + QueryValue("bytes 0-99/1048576"),
        "etag=%22v1%22&ranges=1"},
       false,
       {"206 " + from, "200 -"}},
      {"weak ETag", "etag=W/%22v1%22", {"etag=W/%22v1%22&ranges=1"}, false, {"200 -"}},
      {"no validator", "", {"etag=%22v1%22&ranges=1"}, false, {"200 -"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::PublishedFile file(servers->docroot, first);
    test::TempDir folder;
    const fs::path destination = folder.path() / "0000100000003.zip";
    const std::string& name = file.name();  // the requests' group in the server's log
    CutWorker(servers->FaultsUrl(file.name(), c.cut + "&stall=300000"), destination, 262144);
    const std::string range = "bytes=" + std::to_string(fs::file_size(Kept(destination))) + "-";
    std::vector<std::string> answers = c.answers;
    for (std::string& answer : answers) {
      if (answer.ends_with(from)) answer.replace(answer.size() - from.size(), from.size(), range);
    }
    if (c.replace) test::WriteFile(servers->docroot / file.name(), replaced);
    for (const std::string& rules : c.runs) {
      RunWorker(servers->FaultsUrl(file.name(), rules + "&group=" + name), destination);
    }
    EXPECT_EQ(servers->Answers(name), answers);
    // A wrong Content-Range stores nothing and drops what was kept; the next start begins at 0.
    EXPECT_TRUE(test::ReadFile(destination) == (c.replace ? replaced : first));
    EXPECT_FALSE(fs::exists(Kept(destination)));
  }
}

// With a key, the kept bytes are read back from disk into the signature's hash: bytes spoilt on
// disk between two starts are never stored, nor is their refusal remembered.
TEST(DownloadResume, TheSignatureCoversTheKeptBytesReadBackFromDisk) {
  const auto servers = test::TestServers::Require("net_servers");
  if (!servers) GTEST_SKIP() << "needs the net_servers fixture: run through ctest";
  const std::string archive = test::Signed(test::PatternArchive(1024 * 1024), "0000100000003");
  test::PublishedFile file(servers->docroot, archive);
  for (const bool spoil : {false, true}) {
    SCOPED_TRACE(spoil ? "spoilt on disk" : "as kept");
    test::TempDir folder;
    const fs::path destination = folder.path() / "0000100000003.zip";
    CutWorker(servers->FaultsUrl(file.name(), "etag=%22v1%22&stall=300000"), destination, 262144,
              TARVO_TEST_PUBLIC_KEY);
    if (spoil) {
      std::fstream kept(Kept(destination), std::ios::in | std::ios::out | std::ios::binary);
      kept.seekp(1000);
      kept.put('!');
    }
    const std::string group = file.name() + (spoil ? "spoilt" : "kept");
    const std::string url =
        servers->FaultsUrl(file.name(), "etag=%22v1%22&ranges=1&group=" + group);
    RunWorker(url, destination, TARVO_TEST_PUBLIC_KEY);
    EXPECT_EQ(fs::exists(destination), !spoil);
    EXPECT_FALSE(fs::exists(KeptInfo(destination)));
    if (spoil) RunWorker(url, destination, TARVO_TEST_PUBLIC_KEY);
    const auto answers = servers->Answers(group);
    ASSERT_EQ(answers.size(), spoil ? 2u : 1u);
    EXPECT_EQ(answers[0].rfind("206 ", 0), 0u);
    if (spoil) {
      EXPECT_EQ(answers[1], "200 -");
    }
    EXPECT_TRUE(test::ReadFile(destination) == archive);
  }
}

// A body refused once it arrived whole is not fetched again while its version stays the same.
TEST(DownloadResume, RemembersARefusedBodyForItsVersion) {
  const auto servers = test::TestServers::Require("net_servers");
  if (!servers) GTEST_SKIP() << "needs the net_servers fixture: run through ctest";
  test::PublishedFile file(servers->docroot, test::PatternBytes(300000));
  test::TempDir folder;
  const fs::path destination = folder.path() / "0000100000003.zip";
  for (const char* etag : {"%22r1%22", "%22r1%22", "%22r2%22"}) {
    if (std::string(etag) == "%22r2%22")
      test::WriteFile(servers->docroot / file.name(), test::PatternArchive(300000));
    RunWorker(servers->FaultsUrl(file.name(), "ranges=1&group=" + file.name() + "&etag=" + etag),
              destination);
  }
  EXPECT_EQ(servers->Answers(file.name()), (std::vector<std::string>{"200 -", "304 -", "200 -"}));
  EXPECT_TRUE(fs::exists(destination));
  EXPECT_FALSE(fs::exists(KeptInfo(destination)));
}

// A second launcher neither fetches an entry that another running launcher is fetching nor
// touches its kept bytes; once the first is gone, its bytes are continued.
TEST(DownloadResume, ASecondLauncherLeavesAHeldEntryAlone) {
  const auto servers = test::TestServers::Require("net_servers");
  if (!servers) GTEST_SKIP() << "needs the net_servers fixture: run through ctest";
  const std::string archive = test::PatternArchive(1024 * 1024);
  test::PublishedFile file(servers->docroot, archive);
  test::TempDir folder;
  const fs::path destination = folder.path() / "0000100000003.zip";

  test::Process holder(
      TARVO_DOWNLOAD_RUNNER_PATH,
      {servers->FaultsUrl(file.name(), "etag=%22v1%22&stall=300000"), destination.string()},
      folder.path());
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(WaitForKeptBytes(destination, 262144));
  RunWorker(servers->FaultsUrl(file.name(), "etag=%22v1%22&ranges=1&group=" + file.name()),
            destination);
  EXPECT_EQ(servers->Answers(file.name()), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(destination));
  EXPECT_TRUE(fs::exists(KeptInfo(destination)));

  holder.Kill();
  ASSERT_TRUE(holder.Wait(seconds(30)).has_value());
  RunWorker(servers->FaultsUrl(file.name(), "etag=%22v1%22&ranges=1&group=" + file.name()),
            destination);
  EXPECT_EQ(servers->Answers(file.name()).size(), 1u);
  EXPECT_TRUE(test::ReadFile(destination) == archive);
}

// On a volume of 300 MiB of its own (the small_volume fixture): a transfer starts only when
// 256 MiB stay free after its body, and one that fills the disk keeps what it wrote for later.
// Transfers the server cuts (closed, reset, too slow for the guard, with and without a rate
// limit): the kept bytes are exactly the first bytes served, never a byte more, and the next
// worker resumes from them to the served archive byte for byte. (A trickle may keep nothing:
// WinINet's read waits for all it was asked for.)
TEST(DownloadCuts, KeepOnlyWhatArrivedAndResumeToTheServedArchive) {
  const auto servers = test::TestServers::Require("net_servers");
  if (!servers) GTEST_SKIP() << "needs the net_servers fixture: run through ctest";
  const std::string archive = test::PatternArchive(1024 * 1024);
  const struct {
    const char* what;
    std::string cut;
    std::vector<std::string> options;
  } cases[] = {
      {"closed", "short=300000", {}},
      {"reset", "drop=300000", {}},
      {"too slow", "trickle=5", {"window=1500"}},
      {"paced, then closed", "short=300000", {"rate=1000000"}},
      // Reads held by the pacer are not the server's fault; a trickle still is.
      {"trickling under a rate limit", "trickle=5", {"window=1500", "rate=1024"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::PublishedFile file(servers->docroot, archive);
    test::TempDir folder;
    const fs::path destination = folder.path() / "0000100000003.zip";
    RunWorker(servers->FaultsUrl(file.name(), "etag=%22v1%22&" + c.cut), destination, "",
              c.options);
    EXPECT_FALSE(fs::exists(destination));
    const std::string kept = test::ReadFile(Kept(destination));
    EXPECT_TRUE(kept == archive.substr(0, kept.size())) << kept.size() << " bytes kept";
    RunWorker(servers->FaultsUrl(file.name(), "etag=%22v1%22&ranges=1"), destination);
    EXPECT_TRUE(test::ReadFile(destination) == archive);
  }
}

// A file replaced by another of the same size under the same validator (nginx's ETag, within
// one second): the rest of the new file cannot complete the kept bytes of the old one. Nothing
// spliced is stored, and the next worker fetches the new file whole.
TEST(DownloadCuts, ASpliceOfTwoVersionsIsNeverStored) {
  const auto servers = test::TestServers::Require("net_servers");
  if (!servers) GTEST_SKIP() << "needs the net_servers fixture: run through ctest";
  const auto [first, second] = TwoVersions({700000});
  test::PublishedFile file(servers->docroot, first);
  test::TempDir folder;
  const fs::path destination = folder.path() / "0000100000003.zip";
  RunWorker(servers->FaultsUrl(file.name(), "etag=%22v1%22&short=300000"), destination);
  test::WriteFile(servers->docroot / file.name(), second);
  const std::string url = servers->FaultsUrl(file.name(), "etag=%22v1%22&ranges=1");
  RunWorker(url, destination);
  EXPECT_FALSE(fs::exists(destination));
  RunWorker(url, destination);
  EXPECT_TRUE(test::ReadFile(destination) == second);
}

TEST(DownloadDiskSpace, KeepsTheReserveAndWhatAFullDiskTook) {
  const fs::path volume = TARVO_SMALL_VOLUME;
  if (!fs::exists(volume / "mounted")) GTEST_SKIP() << "needs the small_volume fixture, as root";
  const auto servers = test::TestServers::Require("net_servers");
  if (!servers) GTEST_SKIP() << "needs the net_servers fixture: run through ctest";
  const fs::path folder = volume / "UpdateZip";
  test::RemoveTree(folder);
  fs::create_directories(folder);
  const fs::path destination = folder / "0000100000003.zip";

  {
    // 300 MiB less 60 MiB leaves less than the reserve: not started, nothing written.
    test::PublishedFile big(servers->docroot, test::PatternArchive(60 << 20));
    RunWorker(servers->FaultsUrl(big.name(), "etag=%22v1%22"), destination);
    EXPECT_FALSE(fs::exists(destination));
    EXPECT_FALSE(fs::exists(Kept(destination)));
  }

  const std::string archive = test::PatternArchive(30 << 20);
  test::PublishedFile file(servers->docroot, archive);
  const fs::path go = servers->docroot / (file.name() + ".go");
  {
    // The server holds the body after 8 MiB while the disk is filled, then sends the rest.
    test::Process runner(
        TARVO_DOWNLOAD_RUNNER_PATH,
        {servers->FaultsUrl(file.name(), "etag=%22v1%22&hold=8388608"), destination.string()},
        folder);
    ASSERT_TRUE(runner.started());
    ASSERT_TRUE(WaitForKeptBytes(destination, 4 << 20));
    std::ofstream filler(volume / "filler", std::ios::binary);
    const std::string megabyte(1 << 20, 'f');
    while (filler.write(megabyte.data(), megabyte.size()) && filler.flush()) {
    }
    test::WriteFile(go, "");
    ASSERT_EQ(runner.Wait(seconds(60)), 0);
  }
  fs::remove(go);
  fs::remove(volume / "filler");
  EXPECT_FALSE(fs::exists(destination));
  const std::string kept = test::ReadFile(Kept(destination));
  EXPECT_GE(kept.size(), 4u << 20);
  EXPECT_TRUE(kept == archive.substr(0, kept.size()));

  RunWorker(servers->FaultsUrl(file.name(), "etag=%22v1%22&ranges=1&group=" + file.name()),
            destination);
  EXPECT_EQ(servers->Answers(file.name()),
            std::vector<std::string>{"206 bytes=" + std::to_string(kept.size()) + "-"});
  EXPECT_TRUE(test::ReadFile(destination) == archive);
  test::RemoveTree(folder);
}

// On a volume of 300 MiB: two transfers that each leave the reserve free alone but not
// together do not both start; kept bytes that hold the volume under the reserve go at the next
// start, largest first, until it is above it.
TEST(DownloadDiskSpace, TheReserveCountsEveryTransferAndKeptBytesNeverHoldItDown) {
  const fs::path volume = TARVO_SMALL_VOLUME;
  if (!fs::exists(volume / "mounted")) GTEST_SKIP() << "needs the small_volume fixture, as root";
  const fs::path game = volume / "game";
  test::RemoveTree(game);
  fs::create_directories(game / "UpdateZip");
  fs::create_directories(game / "Sys");
  test::WriteFile(game / "Sys" / "Config.ini",
                  "[VERSION]\r\nFirstVersion=1\r\nSecondVersion=2\r\n");
  const std::u16string destination = test::CoreText(game / "UpdateZip" / "0000100000003.zip");
  const auto budget = std::make_shared<DiskBudget>();
  auto first = budget->Take(destination, 30 << 20);
  EXPECT_TRUE(first);
  EXPECT_FALSE(budget->Take(destination, 30 << 20));
  first.reset();
  EXPECT_TRUE(budget->Take(destination, 30 << 20));

  for (const auto& [version, megabytes] : {std::pair{3, 40}, {4, 10}, {5, 5}}) {
    const fs::path kept =
        game / "UpdateZip" / ("000010000000" + std::to_string(version) + ".zip.kept");
    test::WriteFile(kept, std::string(std::size_t(megabytes) << 20, 'k'));
  }
  DeletePendingArchives(test::CoreText(game) + u"\\", {});
  EXPECT_FALSE(fs::exists(game / "UpdateZip" / "0000100000003.zip.kept"));
  EXPECT_TRUE(fs::exists(game / "UpdateZip" / "0000100000004.zip.kept"));
  EXPECT_TRUE(fs::exists(game / "UpdateZip" / "0000100000005.zip.kept"));
  test::RemoveTree(game);
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
