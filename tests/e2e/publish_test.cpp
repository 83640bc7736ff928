// tarvo-publish as operators run it: two published steps, installed over a player's copy by
// the launcher, leave the player with the newest tree; installed by a tool that does not know
// the removal list (Info-ZIP unzip), they leave dropped files and the list's one small file.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>

#include "support/installation.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

struct ShellResult {
  std::optional<int> status;
  std::string out;
  std::string err;
};

// Runs `command` with /bin/sh in `directory`, collecting what it prints.
ShellResult Shell(const fs::path& directory, const std::string& command) {
  const fs::path out = directory / "shell.out";
  const fs::path err = directory / "shell.err";
  test::Process shell("/bin/sh", {"-c", command + " >" + out.string() + " 2>" + err.string()},
                      directory);
  ShellResult result{shell.Wait(std::chrono::seconds(120)), ReadFile(out), ReadFile(err)};
  fs::remove(out);
  fs::remove(err);
  return result;
}

std::map<std::string, std::string> Files(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[entry.path().lexically_relative(root).generic_string()] = ReadFile(entry.path());
    }
  }
  return files;
}

void Put(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  WriteFile(path, bytes);
}

void PutVersion(const fs::path& tree, int second) {
  Put(tree / "Sys/Config.ini", "[VERSION]\r\nFirstVersion=1\r\nSecondVersion=" +
                                   std::to_string(second) + "\r\n[Sound]\r\nVolume=5\r\n");
}

class PublishedSteps : public ::testing::Test {
 protected:
  void SetUp() override {
    PutVersion(v2_, 2);
    Put(v2_ / "Velmora.exe", "client 2");
    Put(v2_ / "data/maps/a.map", "map a");
    Put(v2_ / "data/retired.pak", "retired");
    Put(v2_ / "mods/old/skin.dat", "skin");
    fs::copy(v2_, v3_, fs::copy_options::recursive);
    PutVersion(v3_, 3);
    Put(v3_ / "Velmora.exe", "client 3");
    Put(v3_ / "data/maps/b.map", "map b");
    fs::remove(v3_ / "data/retired.pak");
    fs::remove_all(v3_ / "mods");
    fs::copy(v3_, v4_, fs::copy_options::recursive);
    PutVersion(v4_, 4);
    Put(v4_ / "data/maps/a.map", "map a, fixed");
    fs::create_directories(v4_ / "saves");
    fs::create_directories(site_ / "updates");
  }

  ShellResult Publish(const fs::path& previous, const fs::path& next, int second) {
    return Shell(dir_.path(), std::string(TARVO_PUBLISH_PATH) + " --site " + site_.string() +
                                  " --url http://127.0.0.1:8619/updates --first 1 --second " +
                                  std::to_string(second) + " " + previous.string() + " " +
                                  next.string());
  }

  test::TempDir dir_;
  fs::path v2_ = dir_.path() / "v2";
  fs::path v3_ = dir_.path() / "v3";
  fs::path v4_ = dir_.path() / "v4";
  fs::path site_ = dir_.path() / "site";
};

TEST_F(PublishedSteps, InstalledInOrderTheyTurnThePreviousTreeIntoTheNewest) {
  const ShellResult step3 = Publish(v2_, v3_, 3);
  ASSERT_EQ(step3.status, 0) << step3.err;
  EXPECT_NE(step3.out.find("removes 2 file(s) and 2 folder(s)"), std::string::npos) << step3.out;
  const ShellResult step4 = Publish(v3_, v4_, 4);
  ASSERT_EQ(step4.status, 0) << step4.err;

  const fs::path player = dir_.path() / "player";
  fs::copy(v2_, player, fs::copy_options::recursive);
  for (const char* archive : {"0000100000003.zip", "0000100000004.zip"}) {
    const ShellResult unzip =
        Shell(dir_.path(),
              "unzip -o -q " + (site_ / "updates" / archive).string() + " -d " + player.string());
    ASSERT_EQ(unzip.status, 0) << archive << ": " << unzip.err;
  }
  auto expected = Files(v4_);
  expected["data/retired.pak"] = "retired";
  expected["mods/old/skin.dat"] = "skin";
  expected["Sys/TarvoRemovals.txt"] =
      "TARVO-REMOVALS-1\ndata/retired.pak\nmods/old/skin.dat\nmods/old/\nmods/\n";
  EXPECT_EQ(Files(player), expected);
  EXPECT_TRUE(fs::is_directory(player / "saves"));

  const std::string page = ReadFile(site_ / "zip.html");
  const std::string entry3 =
      "<Version>0000100000003http://127.0.0.1:8619/updates/0000100000003.zip</Version>\n";
  const std::string entry4 =
      "<Version>0000100000004http://127.0.0.1:8619/updates/0000100000004.zip</Version>\n";
  EXPECT_NE(page.find("<vlVersionList>\n" + entry3 + entry4 + "</vlVersionList>"),
            std::string::npos)
      << page;

  const ShellResult check =
      Shell(dir_.path(), std::string(TARVO_PUBLISH_PATH) + " --check " + site_.string());
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_NE(check.out.find("entry 0000100000003: removes data/retired.pak\n"), std::string::npos)
      << check.out;
  EXPECT_NE(check.out.find("entry 0000100000003: removes mods/ when empty\n"), std::string::npos)
      << check.out;
}

TEST_F(PublishedSteps, TheLauncherRemovesWhatTheNewTreeDropped) {
  ASSERT_EQ(Publish(v2_, v3_, 3).status, 0);
  ASSERT_EQ(Publish(v3_, v4_, 4).status, 0);
  test::Installation player;
  fs::create_directories(player.dir() / "UpdateZip");
  fs::copy(v2_, player.dir(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  for (const char* archive : {"0000100000003.zip", "0000100000004.zip"}) {
    fs::copy(site_ / "updates" / archive, player.dir() / "UpdateZip" / archive);
  }
  test::Process launcher(player.exe(), {}, player.dir());
  ASSERT_EQ(launcher.Wait(std::chrono::seconds(120)), 0);

  // The trees' Velmora.exe took the stub client's place: no client runs.
  auto expected = Files(v4_);
  const std::string exe = player.exe().filename().string();
  expected[exe] = ReadFile(player.exe());
  EXPECT_EQ(Files(player.dir()), expected);
  EXPECT_FALSE(fs::exists(player.dir() / "mods"));
  EXPECT_TRUE(fs::is_directory(player.dir() / "saves"));
}

TEST_F(PublishedSteps, ARefusedStepExitsNonZeroAndWritesNothing) {
  ASSERT_EQ(Publish(v2_, v3_, 3).status, 0);
  const auto before = Files(dir_.path());
  const ShellResult again = Publish(v2_, v3_, 3);
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("already has an entry for these versions"), std::string::npos)
      << again.err;
  EXPECT_EQ(Files(dir_.path()), before);

  fs::remove(site_ / "updates/0000100000003.zip");
  const ShellResult check =
      Shell(dir_.path(), std::string(TARVO_PUBLISH_PATH) + " --check " + site_.string());
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.out.find("archive missing"), std::string::npos) << check.out;
}

TEST(PublishHelp, DescribesTheCommandLine) {
  test::TempDir dir;
  const ShellResult help = Shell(dir.path(), std::string(TARVO_PUBLISH_PATH) + " --help");
  EXPECT_EQ(help.status, 0);
  for (const char* option :
       {"--site", "--url", "--first", "--second", "--archives", "--force", "--dry-run", "--check",
        "--sign-key", "--public-key", "keygen", "sign"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  const ShellResult wrong = Shell(dir.path(), std::string(TARVO_PUBLISH_PATH) + " --first");
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("--first needs a value"), std::string::npos) << wrong.err;
}

}  // namespace
}  // namespace tarvo
