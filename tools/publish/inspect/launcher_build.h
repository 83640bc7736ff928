#pragma once
// What a launcher executable was built with, read out of the executable itself: the text of
// build facts that every launcher carries ("TARVO-BUILD-1", src/app/app_instance.cpp.in), or,
// in a launcher older than that text, the update host of its version list address alone.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tarvo::publish {

struct LauncherBuild {
  // False for a launcher older than its build facts: then only `updateHost` is known.
  bool facts = false;
  std::string version;
  std::string updateHost;
  std::string publicKey;           // base64; empty: updates are not signed
  std::uint32_t downloadRate = 0;  // KiB/s; 0: no limit
};

// The build of the launcher executable at `path`; nothing when it is no launcher (neither build
// facts nor a version list address in it). Throws std::runtime_error when it cannot be read.
std::optional<LauncherBuild> ReadLauncherBuild(const std::filesystem::path& path);

// tarvo-publish inspect FILE...: prints each launcher's build, one "name: value" line each.
// 0, or 1 when a file could not be read or is no launcher.
int RunInspect(const std::vector<std::filesystem::path>& files, std::ostream& out,
               std::ostream& err);

}  // namespace tarvo::publish
