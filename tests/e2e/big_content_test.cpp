// Archives that real writers make for big content, the whole road over two starts: stored by
// the download's check, then installed as Info-ZIP unzip extracts them, and their versions
// recorded. tests/fixtures/zip_writers.py makes them at test time.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "e2e/launcher_update_host.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

class BigContentUpdates : public test::LauncherUpdateHost {
 protected:
  static fs::path Fixtures() { return TARVO_ZIP_FIXTURES; }

  // Publishes the archive `archive` of the fixtures as the update to SecondVersion `second` of
  // line 1, and starts the launcher twice: the first start stores it, the second installs it
  // (within `installing`).
  void Deliver(const std::string& archive, int second,
               std::chrono::seconds installing = std::chrono::seconds(120)) {
    char versions[14];
    std::snprintf(versions, sizeof versions, "00001%08d", second);
    const std::string name = std::string(versions) + ".zip";
    PublishBytes(name, test::ReadFile(Fixtures() / "archives" / archive));
    PublishList({{versions, ArchiveUrl(name)}});
    EXPECT_EQ(RunLauncher(), 0);
    EXPECT_TRUE(fs::exists(Pending(name))) << "not stored";
    EXPECT_EQ(RunLauncher(installing), 0);
    EXPECT_FALSE(fs::exists(Pending(name))) << "not installed";
    EXPECT_EQ(Recorded(), "1/" + std::to_string(second));
  }
};

// Every item in zip64 blocks (zip -fz); a zip64 end record beside an end record that does not
// defer to it (zip from standard input); 70,000 items with their count wrapped at 65,536.
TEST_F(BigContentUpdates, ArchivesOfRealWritersAreStoredAndInstalledWhole) {
  Record(1, 2);
  int second = 2;
  for (const char* archive : {"infozip-fz.zip", "infozip-stdin.zip", "wrapped-count.zip"}) {
    SCOPED_TRACE(archive);
    Deliver(archive, ++second);
    const fs::path reference = Fixtures() / "unzip" / archive;
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(reference)) {
      if (!entry.is_regular_file()) continue;
      ++files;
      const fs::path installed = install_.dir() / fs::relative(entry.path(), reference);
      EXPECT_TRUE(fs::exists(installed) && test::ReadFile(installed) == test::ReadFile(entry))
          << installed;
    }
    EXPECT_GE(files, 3);
  }
}

TEST_F(BigContentUpdates, AnItemPastFourGiBIsInstalledWhole) {
  Record(1, 2);
  // Writing 4 GiB takes a while on a busy machine.
  Deliver("zip64-item.zip", 3, std::chrono::seconds(840));
  const fs::path zeros = install_.dir() / "Data" / "zeros.bin";
  constexpr std::uintmax_t kSize = std::uintmax_t{4104} << 20;
  ASSERT_EQ(fs::file_size(zeros), kSize);
  {
    // Its last bytes, written past 4 GiB into the file.
    std::ifstream in(zeros, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(kSize - 4096));
    std::string last(4096, 'x');
    in.read(last.data(), 4096);
    EXPECT_EQ(last, std::string(4096, '\0'));
  }
  fs::remove(zeros);  // not left on the disk for the rest of the run
  EXPECT_EQ(test::ReadFile(install_.dir() / "Data" / "after.txt").size(), 3000u);
}

}  // namespace
}  // namespace tarvo
