// The client started while downloads run gets none of the launcher's descriptors: no socket of
// a transfer, no file being written. (Windows handles are inherited only on request, which the
// launcher never makes.)

#include <gtest/gtest.h>

#include "e2e/launcher_update_host.h"

namespace tarvo {
namespace {

using LauncherDescriptors = test::LauncherUpdateHost;

TEST_F(LauncherDescriptors, TheClientInheritsNothingOfTheLauncher) {
  Record(1, 2);
  Publish("0000100000003.zip", 1000);
  // Held by the server while the client starts, so that the transfer's socket is open.
  test::WriteFile(servers_.docroot / folder_ / "updates" / "0000100000003.zip.fault", "delay=2000");
  PublishList({{"0000100000003", ArchiveUrl("0000100000003.zip")}});
  EXPECT_EQ(RunLauncher(), 0);
  const auto starts = install_.WaitForClient(std::chrono::seconds(20));
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].descriptors, "");
}

}  // namespace
}  // namespace tarvo
