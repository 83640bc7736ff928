// A file of the installation held open without sharing by another program: its update waits,
// and the whole archive with it, until the file is free. (POSIX has no such sharing rule; the
// POSIX tests fail a write instead.)

#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/install_fixture.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

class LauncherWithAFileInUse : public test::InstallFixture {
 protected:
  // Runs the launcher while another program holds `name` of the installation: the pending
  // archive 0000100000003.zip stays, and nothing is recorded.
  void RunWhileHeld(const char* name) {
    const fs::path ready = install_.root() / "held";
    test::Process holder(TARVO_HOLD_FILE_PATH, {(install_.dir() / name).string(), ready.string()},
                         install_.dir());
    ASSERT_TRUE(test::WaitForFile(ready, std::chrono::seconds(30)));
    EXPECT_EQ(RunLauncher(), 0);
    EXPECT_EQ(Recorded(), "1/2");
    EXPECT_TRUE(fs::exists(Pending("0000100000003.zip")));
    holder.Kill();
    holder.Wait(seconds(30));
  }
};

TEST_F(LauncherWithAFileInUse, TheArchiveStaysPendingUntilTheFileIsFree) {
  Record(1, 2);
  test::WriteFile(install_.dir() / "game.dat", "installed");
  test::WriteFile(Pending("0000100000003.zip"),
                  test::BuildZip({{"game.dat", "updated"}, {"notes.txt", "three"}}));
  RunWhileHeld("game.dat");
  EXPECT_EQ(test::ReadFile(install_.dir() / "game.dat"), "installed");
  EXPECT_FALSE(fs::exists(install_.dir() / "game.dat.tvnew"));
  ASSERT_EQ(install_.WaitForClient(seconds(20)).size(), 1u);

  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(test::ReadFile(install_.dir() / "game.dat"), "updated");
  EXPECT_EQ(Recorded(), "1/3");
  EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
}

// A file to be removed that another program holds keeps the archive pending too; the next
// start removes it.
TEST_F(LauncherWithAFileInUse, ARemovalWaitsForTheFileToBeFree) {
  Record(1, 2);
  test::WriteFile(install_.dir() / "old.dat", "installed");
  test::WriteFile(Pending("0000100000003.zip"),
                  test::BuildZip({{"Sys/TarvoRemovals.txt", "TARVO-REMOVALS-1\nold.dat\n"},
                                  {"notes.txt", "three"}}));
  RunWhileHeld("old.dat");
  EXPECT_EQ(test::ReadFile(install_.dir() / "old.dat"), "installed");
  ASSERT_EQ(install_.WaitForClient(seconds(20)).size(), 1u);

  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_FALSE(fs::exists(install_.dir() / "old.dat"));
  EXPECT_EQ(test::ReadFile(install_.dir() / "notes.txt"), "three");
  EXPECT_EQ(Recorded(), "1/3");
  EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
}

}  // namespace
}  // namespace tarvo
