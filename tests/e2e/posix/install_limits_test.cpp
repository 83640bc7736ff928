// A write that fails mid-item: the launcher runs with a limit on the size of the files it writes
// (RLIMIT_FSIZE, with SIGXFSZ ignored, so that writes past it fail with EFBIG as on a full
// disk). Under Wine no such limit can be given to one Windows process; the Win32 tests keep a
// file in use instead.

#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/install_fixture.h"
#include "support/test_servers.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

using LauncherOnAFullDisk = test::InstallFixture;

TEST_F(LauncherOnAFullDisk, AWriteThatFailsMidItemChangesNothingAndTheArchiveWaits) {
  Record(1, 2);
  const std::string installed = test::PatternBytes(12 << 20);
  test::WriteFile(install_.dir() / "game.dat", installed);
  const std::string updated(12 << 20, 'u');
  test::WriteFile(Pending("0000100000003.zip"),
                  test::BuildZip({{"notes.txt", "three"}, {"game.dat", updated}}));

  {
    const std::string command =
        "trap '' XFSZ; exec prlimit --fsize=4194304 " + install_.exe().string();
    test::Process limited("/bin/sh", {"-c", command}, install_.dir());
    EXPECT_EQ(limited.Wait(seconds(120)), 0);
  }
  EXPECT_TRUE(test::ReadFile(install_.dir() / "game.dat") == installed);
  EXPECT_EQ(Recorded(), "1/2");
  EXPECT_TRUE(fs::exists(Pending("0000100000003.zip")));
  EXPECT_FALSE(fs::exists(install_.dir() / "game.dat.tvnew"));
  EXPECT_EQ(install_.WaitForClient(seconds(20)).size(), 1u) << "the client starts all the same";

  // Once there is room, the next start installs it.
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_TRUE(test::ReadFile(install_.dir() / "game.dat") == updated);
  EXPECT_EQ(Recorded(), "1/3");
  EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
}

}  // namespace
}  // namespace tarvo
