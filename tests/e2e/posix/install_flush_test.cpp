// Where the launcher puts what it writes on the disk, seen in its system calls (strace): a power
// cut can only be simulated, but the order of the flushes, renames and deletions says what a cut
// at any moment would leave.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/launcher_update_host.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

using LauncherFlushes = test::LauncherUpdateHost;

TEST_F(LauncherFlushes, DataReachesTheDiskBeforeItsNameOrItsVersionsSayItIsThere) {
  Record(1, 2);
  test::WriteFile(Pending("0000100000003.zip"), test::BuildZip({{"data/three.txt", "three"}}));
  Publish("0000100000004.zip", 4000);
  PublishList({{"0000100000004", ArchiveUrl("0000100000004.zip")}});
  const fs::path trace = install_.root() / "strace.log";
  {
    test::Process traced("/usr/bin/strace",
                         {"-f", "-qq", "-y", "-o", trace.string(), "-e",
                          "trace=fsync,fdatasync,syncfs,rename,renameat,renameat2,unlink,unlinkat",
                          install_.exe().string()},
                         install_.dir());
    ASSERT_EQ(traced.Wait(seconds(120)), 0);
  }
  ASSERT_TRUE(fs::exists(Pending("0000100000004.zip")));
  EXPECT_EQ(Recorded(), "1/3");

  std::vector<std::string> calls;
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);) calls.push_back(line);
  // The first call that names all of `parts`, or the end.
  const auto at = [&calls](std::initializer_list<std::string> parts) {
    for (std::size_t i = 0; i < calls.size(); ++i) {
      bool all = true;
      for (const std::string& part : parts) all = all && calls[i].find(part) != std::string::npos;
      if (all) return i;
    }
    ADD_FAILURE() << "no call with " << *parts.begin() << "...";
    return calls.size();
  };
  const std::string pending = (install_.dir() / "UpdateZip").string();
  // The installed item, then everything on the disk, then the versions, then the archive gone.
  const std::size_t placed = at({"rename", "three.txt.tvnew", "three.txt\""});
  const std::size_t flushed = at({"syncfs(", install_.dir().string() + ">"});
  const std::size_t recorded = at({"rename", "Config.ini.", "Config.ini\""});
  const std::size_t deleted = at({"unlink", "0000100000003.zip"});
  EXPECT_LT(placed, flushed);
  EXPECT_LT(flushed, recorded);
  EXPECT_LT(recorded, deleted);
  // The download's bytes, then its name, then the folder entry.
  const std::size_t bytes = at({"fsync(", "0000100000004.zip.kept>"});
  const std::size_t stored = at({"rename", "0000100000004.zip.kept\"", "0000100000004.zip\""});
  const std::size_t entry = at({"fsync(", pending + ">"});
  EXPECT_LT(bytes, stored);
  EXPECT_LT(stored, entry);
  if (HasFailure()) {
    for (const std::string& call : calls) std::cerr << call << "\n";
  }
}

}  // namespace
}  // namespace tarvo
