// A launcher built with a public key (the tests' own) against its update host: signed updates go
// the whole road over two starts; nothing else is ever stored or installed, and the installation
// and its recorded versions stay as they were. A launcher built without a key takes signed and
// unsigned archives alike.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/launcher_update_host.h"
#include "support/test_keys.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

class SignedUpdates : public test::LauncherUpdateHost {
 protected:
  SignedUpdates() : LauncherUpdateHost(true) {}

  static std::string Update(const std::string& text) {
    return test::BuildZip({{"data/new/notes.txt", text}, {"game.dat", text}});
  }
  // Every way an archive can fail to be what the operator signed for these versions.
  static std::vector<std::pair<std::string, std::string>> Forgeries() {
    const std::string genuine = test::Signed(Update("three"), "0000100000003");
    std::string changed = test::Signed(Update("four"), "0000100000004");
    changed[40] = static_cast<char>(changed[40] ^ 0x20);
    return {{"one byte changed", changed},
            {"unsigned", Update("four")},
            {"signed with another key",
             test::Signed(Update("four"), "0000100000004", test::OtherSecretKey())},
            {"a genuine older archive served as newer", genuine}};
  }
};

TEST_F(SignedUpdates, ASignedUpdateGoesTheWholeRoad) {
  Record(1, 2);
  PublishBytes("0000100000003.zip", test::Signed(Update("three"), "0000100000003"));
  PublishList({{"0000100000003", ArchiveUrl("0000100000003.zip")}});
  EXPECT_EQ(RunLauncher(), 0);
  ASSERT_TRUE(fs::exists(Pending("0000100000003.zip")));
  ASSERT_EQ(install_.WaitForClient(seconds(20)).size(), 1u);
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(test::ReadFile(install_.dir() / "game.dat"), "three");
  EXPECT_EQ(Recorded(), "1/3");
  EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip"));
}

TEST_F(SignedUpdates, NoForgeryIsEverStored) {
  Record(1, 3);
  test::WriteFile(install_.dir() / "game.dat", "three");
  for (const auto& [what, bytes] : Forgeries()) {
    SCOPED_TRACE(what);
    PublishBytes("0000100000004.zip", bytes);
    PublishList({{"0000100000004", ArchiveUrl("0000100000004.zip")}});
    EXPECT_EQ(RunLauncher(), 0);
    // Nothing stored; the refusal is remembered beside it, so that it is not fetched again.
    EXPECT_FALSE(fs::exists(Pending("0000100000004.zip")));
    EXPECT_EQ(Recorded(), "1/3");
  }
}

TEST_F(SignedUpdates, NoForgeryPlacedByHandIsEverInstalled) {
  Record(1, 3);
  test::WriteFile(install_.dir() / "game.dat", "three");
  std::size_t starts = 0;
  for (const auto& [what, bytes] : Forgeries()) {
    SCOPED_TRACE(what);
    test::WriteFile(Pending("0000100000004.zip"), bytes);
    EXPECT_EQ(RunLauncher(), 0);
    EXPECT_EQ(install_.WaitForClient(seconds(20), ++starts).size(), starts);
    EXPECT_EQ(test::ReadFile(install_.dir() / "game.dat"), "three");
    EXPECT_FALSE(fs::exists(install_.dir() / "data")) << "not even a folder of it";
    EXPECT_EQ(Recorded(), "1/3");
    EXPECT_TRUE(fs::is_empty(install_.dir() / "UpdateZip")) << "deleted";
  }
}

using UnsignedUpdates = test::LauncherUpdateHost;

TEST_F(UnsignedUpdates, ALauncherWithoutAKeyTakesSignedArchivesToo) {
  Record(1, 2);
  test::WriteFile(Pending("0000100000003.zip"),
                  test::Signed(test::BuildZip({{"game.dat", "three"}}), "0000100000003"));
  test::WriteFile(Pending("0000100000004.zip"),
                  test::Signed(test::BuildZip({{"game.dat", "four"}}), "0000100000003",
                               test::OtherSecretKey()));
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(test::ReadFile(install_.dir() / "game.dat"), "four");
  EXPECT_EQ(Recorded(), "1/4");
}

}  // namespace
}  // namespace tarvo
