// tarvo-publish's guard rails, key and launcher inspection, and the site check from a version on.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <sstream>

#include "publish/progress.h"
#include "publish/tool.h"
#include "support/test_keys.h"
#include "support/test_servers.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo::publish {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

RunResult Tool(const std::vector<std::string>& arguments) {
  std::ostringstream out, err;
  const int status = RunTool(arguments, out, err);
  return {status, out.str(), err.str()};
}

void Put(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  WriteFile(path, bytes);
}

std::string Base64(const auto& key) { return EncodeBase64(key.bytes.data(), key.bytes.size()); }

// An executable carrying a launcher's build facts.
std::string Launcher(const std::string& host, const std::string& key = "") {
  return std::string("MZ\x90\0", 4) + "TARVO-BUILD-1\nversion=1.1.0\nupdate-host=" + host +
         "\npublic-key=" + key + "\ndownload-rate=0\n" + std::string(1, '\0') + "rest";
}

// How the site and the trees stand before 1/3 is published over a tree at 1/`base`; the site
// lists 1/1 and 1/2.
struct Setup {
  std::string previousLauncher = "";  // Tarvo.exe in both trees; none when empty
  std::string newLauncher = "";       // the new tree's, when it differs
  const SecretKey* signWith = nullptr;
  bool earlierSigned = false;
  std::string bases = "";  // lines of the site's record of bases
  int base = 2;
  bool privateArchives = false;  // the archive folder others may not enter
};

struct Case {
  const char* what;
  Setup setup;
  int status;
  std::string said;  // on the error output; empty: no warning at all
};

RunResult PublishThird(const fs::path& dir, const Setup& setup) {
  const fs::path previous = dir / "previous", next = dir / "next", site = dir / "site";
  Put(previous / "Sys/Config.ini",
      "[VERSION]\nFirstVersion=1\nSecondVersion=" + std::to_string(setup.base) + "\n");
  Put(previous / "data.pak", "old");
  if (!setup.previousLauncher.empty()) Put(previous / "Tarvo.exe", setup.previousLauncher);
  fs::copy(previous, next, fs::copy_options::recursive);
  Put(next / "data.pak", "new");
  if (!setup.newLauncher.empty()) Put(next / "Tarvo.exe", setup.newLauncher);
  std::string page = "<vlVersionList>\n";
  for (const char* versions : {"0000100000001", "0000100000002"}) {
    std::string archive = test::BuildZip({{"data.pak", versions}});
    if (setup.earlierSigned) archive = test::Signed(archive, versions);
    Put(site / "updates" / (std::string(versions) + ".zip"), archive);
    page += "<Version>" + std::string(versions) + "http://updates.example.com/updates/" + versions +
            ".zip</Version>\n";
  }
  Put(site / "zip.html", page + "</vlVersionList>\n");
  if (!setup.bases.empty()) Put(site / "tarvo-bases.txt", "TARVO-BASES-1\n" + setup.bases);
  if (setup.privateArchives) fs::permissions(site / "updates", fs::perms::owner_all);
  std::vector<std::string> arguments = {
      "--site",          site.string(), "--url",    "http://updates.example.com/updates",
      "--first",         "1",           "--second", "3",
      previous.string(), next.string()};
  if (setup.signWith) {
    Put(dir / "secret.key", Base64(*setup.signWith) + "\n");
    arguments.insert(arguments.begin(), {"--sign-key", (dir / "secret.key").string()});
  }
  return Tool(arguments);
}

TEST(PublishGuardRails, WarnOrRefuseWhatPlayersWouldPayFor) {
  const std::string key = Base64(test::TestPublicKey());
  const std::string otherKey = Base64(PublicKey{{1, 2, 3}});
  const std::string host = "updates.example.com";
  const std::string cumulative = "0000100000001 0000100000000\n0000100000002 0000100000000\n";
  const std::string steps = "0000100000001 0000100000000\n0000100000002 0000100000001\n";
  const Case cases[] = {
      {"signed as the launcher wants",
       {.previousLauncher = Launcher(host, key), .signWith = &test::TestSecretKey()},
       0,
       ""},
      {"unsigned for a keyed launcher",
       {.previousLauncher = Launcher(host, key)},
       1,
       "installs only updates signed for the public key " + key},
      {"signed with another key",
       {.previousLauncher = Launcher(host, key), .signWith = &test::OtherSecretKey()},
       1,
       "installs only updates signed for"},
      {"unsigned after signed ones",
       {.previousLauncher = Launcher(host), .earlierSigned = true},
       0,
       "entry 0000100000002 on the site is signed, and this update is not"},
      {"a step after cumulative ones", {.bases = cumulative}, 0, "is a step from 1/2"},
      {"cumulative after steps", {.bases = steps, .base = 0}, 0, "holds every change since 1/0"},
      {"steps after steps", {.bases = steps}, 0, ""},
      {"a launcher for another host",
       {.previousLauncher = Launcher(host), .newLauncher = Launcher("mirror.example.com")},
       0,
       "built for the update host mirror.example.com, the previous tree's for " + host},
      {"a launcher for the development host",
       {.previousLauncher = Launcher(host), .newLauncher = Launcher("127.0.0.1:8619")},
       1,
       "a host on their own machine"},
      {"a launcher that turns signing on",
       {.previousLauncher = Launcher(host), .newLauncher = Launcher(host, otherKey)},
       0,
       "players' launchers take only updates signed for"},
      {"a launcher that turns signing off",
       {.previousLauncher = Launcher(host, key),
        .newLauncher = Launcher(host),
        .signWith = &test::TestSecretKey()},
       0,
       "built without a public key"},
      {"archives others cannot reach", {.privateArchives = true}, 0, "others may not enter it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const RunResult run = PublishThird(dir.path(), c.setup);
    EXPECT_EQ(run.status, c.status) << run.err;
    if (!c.said.empty()) {
      EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    } else {
      EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
    }
    const fs::path site = dir.path() / "site";
    EXPECT_EQ(fs::exists(site / "updates" / "0000100000003.zip"), c.status == 0);
    if (c.status == 0) {
      const std::string line = "0000100000003 00001000000" +
                               std::string(c.setup.base < 10 ? "0" : "") +
                               std::to_string(c.setup.base) + "\n";
      EXPECT_NE(ReadFile(site / "tarvo-bases.txt").find(line), std::string::npos);
    }
  }
}

// pubkey prints the public key of a secret key file; inspect what a launcher was built with,
// from its build facts or, in a launcher older than them, its version list address.
TEST(PublishInspection, PrintsTheKeysAndTheBuildsOfLaunchers) {
  test::TempDir dir;
  Put(dir.path() / "secret.key", Base64(test::TestSecretKey()) + "\n");
  const RunResult pubkey = Tool({"pubkey", (dir.path() / "secret.key").string()});
  EXPECT_EQ(pubkey.status, 0) << pubkey.err;
  std::string lastLine = Base64(test::TestPublicKey());
  lastLine.insert(lastLine.begin(), '\n');
  EXPECT_TRUE(pubkey.out.ends_with(lastLine + "\n")) << pubkey.out;
  EXPECT_EQ(Tool({"pubkey", (dir.path() / "missing.key").string()}).status, 1);

  const fs::path keyed = dir.path() / "keyed.exe";
  Put(keyed, Launcher("updates.example.com", Base64(test::TestPublicKey())));
  const fs::path old = dir.path() / "old.exe";
  std::string url;
  for (const char c : std::string("http://old.example.com:8080/zip.html")) url.append({c, '\0'});
  Put(old, "MZ" + url + std::string(2, '\0'));
  const fs::path other = dir.path() / "other.exe";
  Put(other, "MZ TARVO-BUILD-1\nversion=1.1.0\n");
  const RunResult run = Tool({"inspect", keyed.string(), old.string(), other.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, keyed.string() + "\n  version: 1.1.0\n" +
                         "  update host: updates.example.com (version list "
                         "http://updates.example.com/zip.html)\n"
                         "  public key: " +
                         Base64(test::TestPublicKey()) +
                         " (installs only updates signed with its secret key)\n"
                         "  download rate: no limit\n" +
                         old.string() +
                         "\n  update host: old.example.com:8080 (version list "
                         "http://old.example.com:8080/zip.html)\n"
                         "  built before launchers named their build: its version, public key "
                         "and download rate cannot be told\n");
  EXPECT_NE(run.err.find(other.string() + " is no Tarvo launcher"), std::string::npos);
  EXPECT_EQ(Tool({"inspect"}).status, 2);
}

// Long work shows how far it has come every few seconds, whatever its size.
TEST(PublishProgress, ShowsALineEveryFewSecondsOfLongWork) {
  std::ostringstream out;
  auto now = std::chrono::steady_clock::time_point{};
  Progress progress(out, "signing", 1, 10 << 20, [&now] { return now += std::chrono::seconds(1); });
  for (int i = 0; i < 7; ++i) progress.Advance(1 << 20, false);
  EXPECT_EQ(out.str(), "signing: 0 of 1 files, 3 of 10 MiB\nsigning: 0 of 1 files, 6 of 10 MiB\n");
}

// Entries published before signing was turned on hold no signature; --since leaves them out of
// the signature check alone.
TEST(PublishSiteCheck, SignaturesAreCheckedFromAVersionOn) {
  test::TempDir dir;
  const fs::path site = dir.path() / "site";
  std::string page = "<vlVersionList>\n";
  for (const char* versions : {"0000100000001", "0000100000002", "0000100000003"}) {
    std::string archive = test::BuildZip({{"data.pak", versions}});
    if (std::string(versions) == "0000100000003") archive = test::Signed(archive, versions);
    Put(site / "updates" / (std::string(versions) + ".zip"), archive);
    page +=
        "<Version>" + std::string(versions) + "http://h/updates/" + versions + ".zip</Version>\n";
  }
  Put(site / "zip.html", page + "</vlVersionList>\n");
  const std::string key = Base64(test::TestPublicKey());
  const RunResult all = Tool({"--check", site.string(), "--public-key", key});
  EXPECT_EQ(all.status, 1);
  EXPECT_NE(all.out.find("2 problem(s)"), std::string::npos) << all.out;
  for (const char* since : {"1/3", "0000100000003"}) {
    const RunResult from = Tool({"--check", site.string(), "--public-key", key, "--since", since});
    EXPECT_EQ(from.status, 0) << from.out;
    EXPECT_NE(from.out.find("signed for its versions from 1/3 on"), std::string::npos);
  }
  EXPECT_EQ(Tool({"--check", site.string(), "--public-key", key, "--since", "1/2"}).status, 1);
  for (const char* wrong : {"1", "1/x", "000010000003", "100000/1"}) {
    EXPECT_EQ(Tool({"--check", site.string(), "--public-key", key, "--since", wrong}).status, 2)
        << wrong;
  }
  EXPECT_EQ(Tool({"--check", site.string(), "--since", "1/3"}).status, 2);
}

// What a server serves, checked as launchers meet it: nginx serves an archive as they need it;
// one it refuses (403), one from a server without ranges or validators, and one whose ranges
// come wrong are reported, each once, however many entries name it.
TEST(PublishServerCheck, ReportsWhatTheServerServesAsLaunchersMeetIt) {
  const auto servers = test::TestServers::Require("net_servers");
  if (!servers) GTEST_SKIP() << "needs the net_servers fixture: run through ctest";
  const std::string folder = "check" + std::to_string(std::random_device{}());
  const fs::path root = servers->docroot / folder;
  const std::string base = servers->NginxUrl(folder);
  std::string page = "<vlVersionList>\n";
  const std::pair<const char*, const char*> archives[] = {
      {"0000100000001", nullptr},
      {"0000100000002", "status=403"},
      {"0000100000003", "group=check"},
      {"0000100000004", "ranges=1&etag=%22v4%22&range=bytes%200-0/1"},
      {"0000100000005", nullptr}};
  for (const auto& [versions, faults] : archives) {
    const fs::path archive = root / "updates" / (std::string(versions) + ".zip");
    Put(archive, test::BuildZip({{"data.pak", test::PatternBytes(10000)}}));
    if (faults) WriteFile(archive.string() + ".fault", faults);
    const std::string url = base + "/updates/" + (versions[12] == '5' ? "0000100000001" : versions);
    page += "<Version>" + std::string(versions) + url + ".zip</Version>\n";
  }
  Put(root / "zip.html", page + "</vlVersionList>\n");

  const RunResult run = Tool({"--check", base + "/"});
  EXPECT_EQ(run.status, 1);
  const auto says = [&run](const std::string& text) {
    return run.out.find(text) != std::string::npos;
  };
  EXPECT_TRUE(
      says("line 3, entry 0000100000002: " + base + "/updates/0000100000002.zip answers 403"))
      << run.out;
  EXPECT_TRUE(
      says("warning: line 4, entry 0000100000003: " + base +
           "/updates/0000100000003.zip comes with neither a strong ETag nor Last-Modified"));
  EXPECT_TRUE(says("line 5, entry 0000100000004: " + base + "/updates/0000100000004.zip answers"));
  const std::string last =
      std::to_string(fs::file_size(root / "updates" / "0000100000004.zip") - 1);
  EXPECT_TRUE(
      says("not \"bytes " + last + "-" + last + "/" + std::to_string(std::stoull(last) + 1)));
  EXPECT_TRUE(says(base + "/zip.html: 2 problem(s)"));
  EXPECT_FALSE(says("entry 0000100000001: " + base + "/updates/0000100000001.zip answers"));
  EXPECT_FALSE(says("entry 0000100000005")) << "the same archive is checked once";
  EXPECT_TRUE(says("warning: " + base + "/zip.html: comes without Cache-Control"));

  fs::remove(root / "updates" / "0000100000002.zip.fault");
  fs::remove(root / "updates" / "0000100000004.zip.fault");
  const RunResult fixed = Tool({"--check", base + "/zip.html"});
  EXPECT_EQ(fixed.status, 0) << fixed.out;
  EXPECT_NE(fixed.out.find("every entry's archive is served as launchers need it"),
            std::string::npos);
  EXPECT_NE(Tool({"--check", base + "/missing/"}).out.find("answers 404"), std::string::npos);
  EXPECT_EQ(Tool({"--check", base + "/", "--public-key", "x"}).status, 2);
  test::RemoveTree(root);
}

}  // namespace
}  // namespace tarvo::publish
