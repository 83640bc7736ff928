// The launcher installing what an earlier start stored, when the installation does not make it
// easy: an update carrying the launcher itself, two launchers started together, archives made
// on Chinese Windows. Faults that one build cannot make are under posix/ and win32/.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/utf.h"
#include "e2e/install_fixture.h"
#include "platform/text.h"
#include "support/test_support.h"
#include "support/zip_builder.h"
#include "unzip/zip_archive.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

using LauncherInstallFaults = test::InstallFixture;

// The launcher cannot replace its running image on Windows, but renames it aside; the next
// start runs the new one, which deletes what was set aside.
TEST_F(LauncherInstallFaults, AnUpdateCarryingTheLauncherReplacesIt) {
  const std::string launcher = install_.exe().filename().string();
  Record(1, 2);
  const std::string updated = test::ReadFile(install_.exe()) + "appended by update 3";
  test::WriteFile(
      Pending("0000100000003.zip"),
      test::BuildZip({{.name = launcher, .data = updated, .externalAttributes = 0x81ED0000},
                      {.name = "data/three.txt", .data = "three"}}));

  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_TRUE(test::ReadFile(install_.exe()) == updated);
  EXPECT_EQ(test::ReadFile(install_.dir() / "data" / "three.txt"), "three");
  EXPECT_EQ(Recorded(), "1/3");
  ASSERT_EQ(install_.WaitForClient(seconds(20)).size(), 1u);

  // The new launcher runs, and leaves nothing of the old one.
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(install_.WaitForClient(seconds(20), 2).size(), 2u);
  const fs::path aside = install_.exe().string() + Utf16ToUtf8(kZipAsideSuffix);
  EXPECT_FALSE(fs::exists(aside));
  EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
}

// Two quick starts on five pending steps: one launcher's passes wait for the other's, and the
// installation ends with the newest files and the newest versions, every time.
TEST_F(LauncherInstallFaults, TwoLaunchersStartedTogetherInstallTheNewestStep) {
  for (int round = 1; round <= 4; ++round) {
    SCOPED_TRACE(round);
    Record(1, 1);
    for (int step = 2; step <= 6; ++step) {
      // Appended piece by piece: GCC 12 warns wrongly (-Wrestrict) on "text" + string.
      std::string text = "step ";
      text.append(std::to_string(step));
      std::vector<test::ZipEntry> items = {{"game.dat", text}};
      // Enough data that the installations of the two launchers would overlap.
      for (int part = 0; part < 8; ++part) {
        std::string name = "data/part";
        name.append(std::to_string(part)).append(".bin");
        items.push_back({.name = name,
                         .data = std::string(1 << 20, static_cast<char>('a' + step)),
                         .method = 0});
      }
      std::string archive = "000010000000";
      archive.append(std::to_string(step)).append(".zip");
      test::WriteFile(Pending(archive), test::BuildZip(items));
    }
    test::Process first(install_.exe(), {}, install_.dir());
    test::Process second(install_.exe(), {}, install_.dir());
    EXPECT_EQ(first.Wait(seconds(120)), 0);
    EXPECT_EQ(second.Wait(seconds(120)), 0);

    EXPECT_EQ(test::ReadFile(install_.dir() / "game.dat"), "step 6");
    EXPECT_EQ(test::ReadFile(install_.dir() / "data" / "part7.bin"), std::string(1 << 20, 'g'));
    EXPECT_EQ(Recorded(), "1/6");
    EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
    // Both launchers started the client.
    EXPECT_EQ(install_.WaitForClient(seconds(20), 2 * round).size(), 2u * round);
  }
}

// Run again under Chinese Windows (OEM code page 936) by the Win32 tests.
TEST_F(LauncherInstallFaults, ItemsNamedInCodePage936WithoutTheUtf8FlagKeepTheirNames) {
  const std::u16string folder = u"\u6c49\u5316\u8865\u4e01";  // the name of a translation
  const std::string gbk = "\xBA\xBA\xBB\xAF\xB2\xB9\xB6\xA1/\xCB\xB5\xC3\xF7.txt";
  // POSIX reads such names in code page 936 whatever its locale; Win32 in the system's OEM one.
  const std::u16string name = folder + u"/\u8bf4\u660e.txt";
  if (!test::HasMultiByteCodePage(OemCodePageToUtf16(gbk) == name)) return;
  Record(1, 2);
  test::WriteFile(Pending("0000100000003.zip"), test::BuildZip({{.name = gbk,
                                                                 .data = "translated",
                                                                 .versionMadeBy = 0x0014,
                                                                 .externalAttributes = 0x20}}));
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(test::ReadFile(install_.dir() / fs::path(folder) / fs::path(u"\u8bf4\u660e.txt")),
            "translated");
  EXPECT_EQ(Recorded(), "1/3");
}

}  // namespace
}  // namespace tarvo
