#pragma once
// Whole files as bytes.

#include <filesystem>
#include <string>

namespace tarvo::publish {

// The file's bytes. Throws std::runtime_error naming the file when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

// Creates or replaces the file with `bytes`. Throws std::runtime_error naming the file when it
// cannot be written in full.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace tarvo::publish
