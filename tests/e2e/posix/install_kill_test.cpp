// The launcher killed at random moments while it installs several archives: after every start,
// killed or not, no file that the recorded versions' archives wrote is older than they are. When
// each kill lands does not matter; what is checked holds after any of them.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "e2e/install_fixture.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kFirstUpdate = 2;
constexpr int kLastUpdate = 4;

// What update `version` holds at `name`: the version first, so that a file says where it came
// from.
std::string Contents(int version, const std::string& name) {
  std::string text = std::to_string(version) + " " + name + "\n";
  while (text.size() < 8 * 1024) text += "update " + std::to_string(version) + " of " + name + "\n";
  return text;
}

// The files of update `version`: the common ones, its own, and the configuration a publisher's
// tree carries, recording its own versions.
std::map<std::string, std::string> UpdateFiles(int version) {
  std::map<std::string, std::string> files;
  for (int i = 0; i < 60; ++i) {
    const std::string name = "common/" + std::to_string(i) + ".dat";
    files[name] = Contents(version, name);
  }
  for (int i = 0; i < 10; ++i) {
    const std::string name = "step" + std::to_string(version) + "/" + std::to_string(i) + ".dat";
    files[name] = Contents(version, name);
  }
  files["Sys/Config.ini"] =
      "[VERSION]\r\nFirstVersion=1\r\nSecondVersion=" + std::to_string(version) + "\r\n";
  return files;
}

class KilledInstallation : public test::InstallFixture {
 protected:
  // Version 1 installed and recorded, updates 2 to 4 pending.
  void Prepare() {
    fs::remove_all(install_.dir() / "common");
    Record(1, 1);
    for (int version = kFirstUpdate; version <= kLastUpdate; ++version) {
      fs::remove_all(install_.dir() / ("step" + std::to_string(version)));
      std::vector<test::ZipEntry> items;
      for (const auto& [name, data] : UpdateFiles(version)) items.push_back({name, data});
      test::WriteFile(Pending("000010000000" + std::to_string(version) + ".zip"),
                      test::BuildZip(items));
    }
  }

  // Every file of the updates up to the recorded one holds that update's contents or a later
  // update's; the configuration is checked by what it records.
  void ExpectNothingOlderThanRecorded() {
    const std::string recorded = Recorded();
    ASSERT_EQ(recorded.substr(0, 2), "1/");
    const int second = std::stoi(recorded.substr(2));
    for (int version = kFirstUpdate; version <= second; ++version) {
      for (const auto& [name, data] : UpdateFiles(version)) {
        if (name == "Sys/Config.ini") continue;
        const fs::path file = install_.dir() / name;
        ASSERT_TRUE(fs::exists(file)) << name << " under " << recorded;
        const std::string found = test::ReadFile(file);
        const int from = std::stoi(found.substr(0, found.find(' ')));
        EXPECT_GE(from, version) << name << " under " << recorded;
        EXPECT_TRUE(found == Contents(from, name)) << name << " is damaged";
      }
    }
  }
};

TEST_F(KilledInstallation, NoFileIsEverOlderThanTheRecordedVersion) {
  // How long an installation of the three takes here, so that kills land all over it.
  Prepare();
  const auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(RunLauncher(), 0);
  const auto whole =
      std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - began);
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<long> moment(0, whole.count());
  // Forty starts stopped at random moments, most of them mid-installation; how many the kill
  // caught still running makes no difference to what is checked.
  for (int round = 0, starts = 0; starts < 40; ++round) {
    Prepare();
    for (int start = 0; start < 6 && starts < 40; ++start, ++starts) {
      test::Process tarvo(install_.exe(), {}, install_.dir());
      ASSERT_TRUE(tarvo.started());
      if (!tarvo.Wait(milliseconds(moment(random)))) tarvo.Kill();
      ASSERT_TRUE(tarvo.Wait(seconds(60)));
      SCOPED_TRACE("round " + std::to_string(round) + ", start " + std::to_string(start));
      ExpectNothingOlderThanRecorded();
      if (HasFatalFailure()) return;
    }
    // A start left alone finishes the job and leaves nothing behind.
    ASSERT_EQ(RunLauncher(), 0);
    EXPECT_EQ(Recorded(), "1/4");
    EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
    for (const auto& [name, data] : UpdateFiles(kLastUpdate)) {
      EXPECT_TRUE(test::ReadFile(install_.dir() / name) == data) << name;
    }
    for (const auto& entry : fs::recursive_directory_iterator(install_.dir())) {
      EXPECT_NE(entry.path().extension(), ".tvnew") << entry.path();
    }
  }
}

}  // namespace
}  // namespace tarvo
