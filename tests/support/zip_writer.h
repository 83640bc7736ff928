#pragma once
// Writes zip archives for tests with minizip's writer.

#include <filesystem>
#include <string>
#include <vector>

namespace tarvo::test {

struct ZipEntry {
  std::string name;  // as stored; "/" separators, a trailing "/" for a directory
  std::string data;
};

// Writes an archive of `entries` at `path`, deflated, or stored when `store` is set; false when
// minizip fails.
bool WriteZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries,
              bool store = false);

}  // namespace tarvo::test
