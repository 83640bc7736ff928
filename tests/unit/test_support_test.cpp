// The tests' own folders: a test's folder is removed while a program it started may still be
// writing there, and its removal must end whatever vanishes under it.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "support/test_support.h"

namespace tarvo::test {
namespace {

namespace fs = std::filesystem;

TEST(TestFolders, RemovalEndsWhileEntriesVanishUnderItAndSparesWhatLinksLeadTo) {
  TempDir scratch;
  const fs::path outside = scratch.path() / "outside";
  WriteFile(outside, "kept");
  fs::permissions(outside, fs::perms::owner_read, fs::perm_options::replace);
  // The vanishing entry is taken away at a different moment of the walk in each round.
  for (int round = 0; round < 100; ++round) {
    const fs::path root = scratch.path() / std::to_string(round);
    const fs::path install = root / "install";
    fs::create_directories(install / "sub");
    for (int i = 0; i < round % 20; ++i) WriteFile(install / std::to_string(i), "x");
    WriteFile(install / "sub" / "read-only", "x");
    fs::permissions(install / "sub" / "read-only", fs::perms::owner_read,
                    fs::perm_options::replace);
    std::error_code no_links;  // Wine may make none; the rest of the round still counts
    fs::create_symlink(outside, install / "link", no_links);
    WriteFile(install / "client.log.tmp", "x");
    std::thread other([&] {
      std::error_code ignored;
      fs::remove(install / "client.log.tmp", ignored);
    });
    RemoveTree(root);
    other.join();
    EXPECT_FALSE(fs::exists(fs::symlink_status(root))) << "round " << round;
  }
  std::error_code no_link;
  fs::create_directory_symlink(scratch.path() / "0", scratch.path() / "link", no_link);
  fs::create_directory(scratch.path() / "0");
  WriteFile(scratch.path() / "0" / "file", "kept");
  RemoveTree(scratch.path() / "link");
  EXPECT_FALSE(fs::exists(fs::symlink_status(scratch.path() / "link")));
  EXPECT_EQ(ReadFile(scratch.path() / "0" / "file"), "kept");
  EXPECT_EQ(ReadFile(outside), "kept");
  EXPECT_EQ(fs::status(outside).permissions() & fs::perms::owner_write, fs::perms::none);
}

}  // namespace
}  // namespace tarvo::test
