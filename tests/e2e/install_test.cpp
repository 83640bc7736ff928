// The launcher installing what an earlier start downloaded.

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "e2e/install_fixture.h"
#include "support/test_keys.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

class LauncherInstall : public test::InstallFixture {
 protected:
  void SetUp() override {
    InstallFixture::SetUp();
    Record(1, 2);
  }
  int RunLauncherIn(const fs::path& directory) {
    test::Process tarvo(install_.exe(), {}, directory);
    EXPECT_TRUE(tarvo.started());
    return tarvo.Wait(seconds(120)).value_or(-1);
  }
};

TEST_F(LauncherInstall, InstallsPendingArchivesBeforeStartingTheClientFromItsOwnDirectory) {
  test::WriteFile(install_.dir() / "readme.txt", "old");
  test::WriteFile(Pending("0000100000003.zip"),
                  test::BuildZip({{"readme.txt", "three"},
                                  {.name = "maps/", .externalAttributes = 0x41ED0000},
                                  {"maps/a.map", "a"}}));
  test::WriteFile(Pending("0000100000004.zip"), test::BuildZip({{"readme.txt", "four"}}));
  const fs::path elsewhere = install_.root() / "elsewhere";
  fs::create_directory(elsewhere);

  EXPECT_EQ(RunLauncherIn(elsewhere), 0);

  EXPECT_EQ(test::ReadFile(install_.dir() / "readme.txt"), "four");
  EXPECT_EQ(test::ReadFile(install_.dir() / "maps" / "a.map"), "a");
  EXPECT_EQ(Recorded(), "1/4");
  EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
  const auto starts = install_.WaitForClient(seconds(20));
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_TRUE(fs::equivalent(starts[0].directory, elsewhere)) << starts[0].directory;
}

TEST_F(LauncherInstall, KilledWhileExtractingInstallsTheArchiveAgainAtTheNextStart) {
  // Large enough that extracting takes a while: stored, so writing it is quick.
  std::vector<test::ZipEntry> entries;
  for (int i = 0; i < 48; ++i) {
    entries.push_back({.name = "big/part" + std::to_string(i) + ".bin",
                       .data = std::string(2 << 20, char('a' + i % 26)),
                       .method = 0});
  }
  test::WriteFile(Pending("0000100000005.zip"), test::BuildZip(entries));

  {
    test::Process tarvo(install_.exe(), {}, install_.dir());
    ASSERT_TRUE(test::WaitForFile(install_.dir() / "big" / "part0.bin", seconds(60)));
    tarvo.Kill();
    tarvo.Wait(seconds(30));
  }
  if (!fs::exists(Pending("0000100000005.zip"))) {
    GTEST_SKIP() << "the extraction ended before the launcher could be stopped";
  }
  EXPECT_EQ(Recorded(), "1/2");

  EXPECT_EQ(RunLauncher(), 0);
  for (int i = 0; i < 48; ++i) {
    const fs::path part = install_.dir() / "big" / ("part" + std::to_string(i) + ".bin");
    ASSERT_EQ(fs::file_size(part), std::uintmax_t{2} << 20) << part;
  }
  EXPECT_EQ(Recorded(), "1/5");
  EXPECT_FALSE(fs::exists(Pending("0000100000005.zip")));
  // What the stopped extraction was writing has been replaced; nothing of it is left over.
  for (const auto& entry : fs::recursive_directory_iterator(install_.dir())) {
    EXPECT_NE(entry.path().extension(), ".tvnew") << entry.path();
  }
}

// A download that ended late: an archive of the recorded versions, or older, pending beside the
// newer tree, genuinely signed for its versions where the launcher checks signatures.
class LateDownload : public test::InstallFixture, public ::testing::WithParamInterface<bool> {
 protected:
  LateDownload() : InstallFixture(GetParam()) {}
};

TEST_P(LateDownload, IsDeletedAndChangesNothing) {
  Record(1, 3);
  const std::string config = test::ReadFile(install_.dir() / "Sys" / "Config.ini");
  test::WriteFile(install_.dir() / "game.dat", "three");
  for (const std::string versions : {"0000100000002", "0000100000003"}) {
    const std::string archive =
        test::BuildZip({{"game.dat", versions}, {"only/" + versions + ".dat", versions}});
    test::WriteFile(Pending(versions + ".zip"),
                    GetParam() ? test::Signed(archive, versions) : archive);
  }
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(test::ReadFile(install_.dir() / "game.dat"), "three");
  EXPECT_FALSE(fs::exists(install_.dir() / "only"));
  EXPECT_EQ(test::ReadFile(install_.dir() / "Sys" / "Config.ini"), config);
  EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
}

INSTANTIATE_TEST_SUITE_P(PlainAndSigned, LateDownload, ::testing::Bool());

}  // namespace
}  // namespace tarvo
