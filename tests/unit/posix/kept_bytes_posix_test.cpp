// Kept bytes and links, which a player (or anything else) may leave in "UpdateZip\".

#include <gtest/gtest.h>

#include <filesystem>

#include "install/pending_archives.h"
#include "net/kept_bytes.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// A link where kept bytes or their record belong is never written through, and the deletion
// pass removes the link itself; what it leads to stays as it was.
TEST(KeptBytesLinks, AreNeverFollowedAndGoWithTheDeletionPass) {
  test::TempDir temp;
  const fs::path game = temp.path() / "game";
  fs::create_directories(game / "UpdateZip");
  fs::create_directories(game / "Sys");
  const fs::path outside = temp.path() / "outside.txt";
  const fs::path folder = temp.path() / "outside-folder";
  test::WriteFile(outside, "not the launcher's");
  fs::create_directory(folder);
  const fs::path pending = game / "UpdateZip";
  fs::create_symlink(outside, pending / "0000100000003.zip.kept");
  fs::create_symlink(outside, pending / "0000100000004.zip.kept-info");
  fs::create_directory_symlink(folder, pending / "0000100000005.zip.kept");
  fs::create_symlink(temp.path() / "nothing", pending / "0000100000006.zip.kept");

  const std::u16string destination = test::CoreText(pending / "0000100000003.zip");
  EXPECT_THROW(PartialArchive(destination, std::nullopt), CFileException);
  EXPECT_FALSE(KeptBytesHeld(destination));
  // Bytes of their own beside a record that is a link: the record is not read or written.
  test::WriteFile(pending / "0000100000004.zip.kept", "");
  {
    PartialArchive part(test::CoreText(pending / "0000100000004.zip"), std::nullopt);
    EXPECT_FALSE(part.record());
    part.StartOver(KeptRecord{{true, "\"v1\""}, 10, false});
  }
  EXPECT_EQ(test::ReadFile(outside), "not the launcher's");

  std::vector<std::u16string> finished;
  DeletePendingArchives(test::CoreText(game) + u"\\", finished);
  EXPECT_EQ(test::ReadFile(outside), "not the launcher's");
  EXPECT_TRUE(fs::is_directory(folder));
  for (const auto& entry : fs::directory_iterator(pending)) {
    EXPECT_FALSE(fs::is_symlink(entry.symlink_status())) << entry.path();
  }
}

}  // namespace
}  // namespace tarvo
