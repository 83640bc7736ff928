// A launcher whose path is longer than the usual 1024-unit buffer takes its whole path: it
// starts its own client, and works on its own archives, never on those of a folder above it.
// Its archive waits: no path there fits what Windows programs can write without the long-path
// prefix. (Windows programs under Wine cannot even start from such a path.)

#include <gtest/gtest.h>

#include <filesystem>

#include "support/installation.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

TEST(LauncherOnALongPath, WorksInItsOwnFolder) {
  test::Installation outer;
  fs::path deep = outer.dir();
  while (deep.string().size() < 1200) deep /= std::string(60, 'd');
  fs::create_directories(deep / "UpdateZip");
  fs::create_directories(deep / "Sys");
  test::WriteFile(deep / "Sys" / "Config.ini",
                  "[VERSION]\r\nFirstVersion=1\r\nSecondVersion=2\r\n");
  test::WriteFile(deep / "UpdateZip" / "0000100000003.zip",
                  test::BuildZip({{"game.dat", "three"}}));
  fs::copy_file(outer.exe(), deep / outer.exe().filename());
  fs::copy_file(outer.dir() / "Velmora.exe", deep / "Velmora.exe");

  fs::create_directories(outer.dir() / "UpdateZip");
  test::WriteFile(outer.dir() / "UpdateZip" / "0000100000004.zip",
                  test::BuildZip({{"game.dat", "four"}}));

  test::Process tarvo(deep / outer.exe().filename(), {}, deep);
  EXPECT_EQ(tarvo.Wait(std::chrono::seconds(60)), 0);
  EXPECT_TRUE(test::WaitForFile(deep / "client.log", std::chrono::seconds(20)));
  EXPECT_FALSE(fs::exists(outer.dir() / "client.log"));
  EXPECT_TRUE(fs::exists(deep / "UpdateZip" / "0000100000003.zip"));
  EXPECT_FALSE(fs::exists(deep / "game.dat"));
  EXPECT_TRUE(fs::exists(outer.dir() / "UpdateZip" / "0000100000004.zip"));
  EXPECT_FALSE(fs::exists(outer.dir() / "game.dat"));
}

}  // namespace
}  // namespace tarvo
