// The launcher against the faults of real servers and networks: the client starts within
// seconds whatever the list server does, and every published update arrives whole, under its
// entry's name, whatever the other entries, the URLs and the network do.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "e2e/launcher_update_host.h"
#include "support/test_support.h"
#include "support/zip_builder.h"
#include "tarvo_version.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

using LauncherFaults = test::LauncherUpdateHost;

// What a folder holds, but the record of the entries the last list planned.
std::vector<std::string> PendingFiles(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename() != "planned-updates.txt") {
      names.push_back(entry.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A list server that never answers, and one that sends a byte every 5 s. (A host that drops
// connection attempts cannot stand at the launcher's fixed address here; the update check's
// unit test meets one.)
TEST_F(LauncherFaults, TheClientStartsWithinSecondsWhateverTheListServerDoes) {
  Record(1, 2);
  Publish("0000100000003.zip", 1000);
  PublishList();
  std::size_t starts = 0;
  for (const char* rules : {"stall=headers", "trickle=5000"}) {
    SCOPED_TRACE(rules);
    SetListFaults(rules);
    test::Process tarvo(install_.exe(), {}, install_.dir());
    ASSERT_TRUE(tarvo.started());
    ++starts;
    EXPECT_EQ(install_.WaitForClient(seconds(20), starts).size(), starts);
    EXPECT_EQ(tarvo.Wait(seconds(30)), 0);
    EXPECT_EQ(Requests("0000100000003.zip"), 0);
  }
}

TEST_F(LauncherFaults, ADeadEntryDoesNotHoldBackTheGoodOneAfterIt) {
  Record(1, 2);
  const std::string good = Publish("0000100000004.zip", 4000);
  PublishList({{"0000100000003", ArchiveUrl("missing.zip")},
               {"0000100000004", ArchiveUrl("0000100000004.zip")}});
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_TRUE(test::ReadFile(Pending("0000100000004.zip")) == good);
  // The launcher may end before the dead entry's answer is in; its transfer then leaves the
  // kept file it holds, with nothing in it: never an archive, nor the error page's bytes.
  for (const std::string& name : PendingFiles(install_.dir() / "UpdateZip")) {
    if (name == "0000100000004.zip") continue;
    EXPECT_EQ(name, "0000100000003.zip.kept");
    EXPECT_EQ(fs::file_size(install_.dir() / "UpdateZip" / name), 0u) << name;
  }
}

// Whatever the URL calls the archive, it is stored, installed and recorded as its entry says.
TEST_F(LauncherFaults, AnArchiveIsNamedAndRecordedAfterItsEntryWhateverItsUrl) {
  Record(1, 2);
  Publish("patch3.zip", 3000);
  Publish("0000299999999.zip", 4000);
  Publish("00001-0000005.zip", 5000);
  const std::string signed_link = "patch3.zip?Expires=1&Signature=a%2Fb";
  const std::pair<std::string, std::string> steps[] = {
      {"0000100000003", ArchiveUrl(signed_link)},
      {"0000100000004", ArchiveUrl("0000299999999.zip")}};
  std::size_t starts = 0;
  for (const auto& step : steps) {
    PublishList({step, {"00001-0000005", ArchiveUrl("00001-0000005.zip")}});
    // One start stores the archive, the next installs it.
    for (int run = 0; run < 2; ++run) {
      EXPECT_EQ(RunLauncher(), 0);
      ASSERT_EQ(install_.WaitForClient(seconds(20), ++starts).size(), starts);
    }
    EXPECT_EQ(Recorded(), "1/" + step.first.substr(12));
  }
  EXPECT_TRUE(fs::exists(install_.dir() / "data" / "patch3.zip.bin"));
  EXPECT_TRUE(fs::exists(install_.dir() / "data" / "0000299999999.zip.bin"));
  EXPECT_EQ(Requests("00001-0000005.zip"), 0) << "an entry without 13 digits is never fetched";
  EXPECT_EQ(servers_.RequestsFor(Uri(signed_link)), 1) << "not fetched again once installed";
}

// The same archive named twice in one list, and two launchers started together: one start
// fetches each destination once, another launcher leaves a transfer that one holds alone, and
// what is stored is exactly what was published.
TEST_F(LauncherFaults, OverlappingTransfersStoreExactlyThePublishedBytes) {
  Record(1, 2);
  const std::string archive = Publish("0000100000003.zip", 6 << 20);
  // Held after the headers until both launchers have met the transfer.
  const fs::path published = servers_.docroot / folder_ / "updates" / "0000100000003.zip";
  test::WriteFile(published.string() + ".fault", "etag=%22v1%22&hold=0");
  const std::string url = ArchiveUrl("0000100000003.zip");
  PublishList({{"0000100000003", url}, {"0000100000003", url}, {"0000100000003", url + "?again"}});

  test::Process first(install_.exe(), {}, install_.dir());
  test::Process second(install_.exe(), {}, install_.dir());
  // The launcher that does not hold the transfer ends without it.
  std::optional<int> ended;
  for (int i = 0; i < 900 && !ended; ++i) {
    ended = first.Wait(std::chrono::milliseconds(50));
    if (!ended) ended = second.Wait(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(ended, 0);
  test::WriteFile(published.string() + ".go", "");
  EXPECT_EQ(first.Wait(seconds(90)), 0);
  EXPECT_EQ(second.Wait(seconds(90)), 0);
  fs::remove(published.string() + ".go");

  EXPECT_EQ(PendingFiles(install_.dir() / "UpdateZip"),
            std::vector<std::string>{"0000100000003.zip"});
  EXPECT_TRUE(test::ReadFile(Pending("0000100000003.zip")) == archive);
  EXPECT_EQ(Requests("0000100000003.zip"), 1) << "one request in all";
}

// A player two updates behind: the small newer step is stored while the large older one is
// still on its way, and the launcher ends. The next start keeps the newer one and fetches the
// older one; the start after installs both, in the list's order. The requests name the versions
// recorded at each start.
TEST_F(LauncherFaults, ANewerArchiveStoredFirstWaitsUntilTheOlderOneIsInstalled) {
  Record(1, 2);
  const std::size_t listRequests = servers_.AgentsFor("/zip.html").size();
  PublishBytes(
      "0000100000003.zip",
      test::BuildZip({{"game.dat", "3"}, {"data/three.pak", test::PatternBytes(1 << 20)}}));
  PublishBytes("0000100000004.zip", test::BuildZip({{"game.dat", "4"}}));
  const fs::path updates = servers_.docroot / folder_ / "updates";
  const std::string older = (updates / "0000100000003.zip").string();
  const std::string newer = (updates / "0000100000004.zip").string();
  test::WriteFile(older + ".fault", "hold=1000");
  test::WriteFile(newer + ".fault", "hold=0");
  PublishList({{"0000100000003", ArchiveUrl("0000100000003.zip")},
               {"0000100000004", ArchiveUrl("0000100000004.zip")}});
  // Held transfers go on once the client runs, as those of updates of any size do.
  std::size_t starts = 0;
  const auto start = [&](const std::string& released) {
    test::Process tarvo(install_.exe(), {}, install_.dir());
    ++starts;
    EXPECT_EQ(install_.WaitForClient(seconds(20), starts).size(), starts);
    if (!released.empty()) test::WriteFile(released + ".go", "");
    return tarvo.Wait(seconds(90));
  };

  EXPECT_EQ(start(newer), 0);
  EXPECT_TRUE(fs::exists(Pending("0000100000004.zip")));
  EXPECT_FALSE(fs::exists(Pending("0000100000003.zip")));

  EXPECT_EQ(start(older), 0);
  EXPECT_EQ(Recorded(), "1/2");
  EXPECT_FALSE(fs::exists(install_.dir() / "game.dat"));
  EXPECT_TRUE(fs::exists(Pending("0000100000003.zip")));
  EXPECT_TRUE(fs::exists(Pending("0000100000004.zip")));

  EXPECT_EQ(start(""), 0);
  EXPECT_EQ(Recorded(), "1/4");
  EXPECT_EQ(test::ReadFile(install_.dir() / "game.dat"), "4");
  EXPECT_EQ(fs::file_size(install_.dir() / "data" / "three.pak"), 1u << 20);

  // nginx logs a request once it is answered.
  std::vector<std::string> agents = servers_.AgentsFor("/zip.html");
  for (int i = 0; i < 100 && agents.size() < listRequests + 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    agents = servers_.AgentsFor("/zip.html");
  }
  const std::string tarvo = "Tarvo/" TARVO_VERSION_TEXT;
  agents.erase(agents.begin(), agents.begin() + std::min(agents.size(), listRequests));
  EXPECT_EQ(agents,
            (std::vector<std::string>{tarvo + " (1/2)", tarvo + " (1/2)", tarvo + " (1/4)"}));
}

// A cafe's network answers every request with its own page.
TEST_F(LauncherFaults, ALoginPageIsNeverStoredAsAnUpdate) {
  Record(1, 2);
  PublishBytes("0000100000003.zip",
               "<html><body><form action=\"/login\">Sign in to continue"
               "</form></body></html>");
  PublishList({{"0000100000003", ArchiveUrl("0000100000003.zip")}});
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_FALSE(fs::exists(Pending("0000100000003.zip")));
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(Recorded(), "1/2");
}

TEST_F(LauncherFaults, NeverMoreThanFourTransfersAtOnce) {
  Record(1, 2);
  std::vector<std::pair<std::string, std::string>> entries;
  for (int second = 3; second < 13; ++second) {
    std::string versions = "00001000000";
    versions.append(second < 10 ? "0" : "").append(std::to_string(second));
    entries.emplace_back(
        versions, servers_.FaultsUrl("missing.zip",
                                     "status=404&group=" + folder_ + "&wait=" + folder_ + ":4"));
  }
  PublishList(entries);
  // The launcher ends once every one of them has ended without storing.
  EXPECT_EQ(RunLauncher(), 0);
  const auto [most, requests] = servers_.GroupRequests(folder_);
  EXPECT_EQ(requests, 10);
  EXPECT_EQ(most, 4);
}

// A character of the page's code page whose bytes straddle the first 1024-byte read stands
// right before the list.
TEST_F(LauncherFaults, TheListIsFoundWhenACharacterStraddlesTheReadSize) {
  const std::optional<std::string> character = test::AnsiBytes(u"\u4e2d");
  if (!test::HasMultiByteCodePage(character && character->size() > 1)) return;
  Record(1, 2);
  const std::string archive = Publish("0000100000003.zip", 1000);
  PublishList({{"0000100000003", ArchiveUrl("0000100000003.zip")}});
  std::string page = test::ReadFile(servers_.docroot / "zip.html");
  const std::size_t list = page.find("<vlVersionList>");
  std::string head = page.substr(0, list);
  head.append(1024 - 1 - head.size(), ' ');
  test::WriteFile(servers_.docroot / "zip.html", head + *character + page.substr(list));

  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_TRUE(test::ReadFile(Pending("0000100000003.zip")) == archive);
}

TEST_F(LauncherFaults, TheUpdateFolderIsMadeForTheFirstDownload) {
  Record(1, 2);
  fs::remove(install_.dir() / "UpdateZip");
  const std::string archive = Publish("0000100000003.zip", 1000);
  PublishList({{"0000100000003", ArchiveUrl("0000100000003.zip")}});
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_TRUE(test::ReadFile(Pending("0000100000003.zip")) == archive);
}

TEST_F(LauncherFaults, AConfigurationThatIsAFolderPlansNothing) {
  fs::create_directories(install_.dir() / "Sys" / "Config.ini");
  Publish("0000000000001.zip", 1000);
  PublishList({{"0000000000001", ArchiveUrl("0000000000001.zip")}});
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(servers_.RequestsFor(Uri("0000000000001.zip")), 0);
  EXPECT_EQ(install_.WaitForClient(seconds(20)).size(), 1u);
}

}  // namespace
}  // namespace tarvo
