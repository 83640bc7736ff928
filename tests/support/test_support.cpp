#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace tarvo::test {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    std::ostringstream name;
    name << "tarvo-test-" << random() << "-" << counter++;
    path_ = base / name.str();
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() { RemoveTree(path_); }

namespace {

// Removes what `folder` holds; an entry that is gone by the time its turn comes counts as
// removed. Read-only files are made writable first so that everything can go. A link is removed
// as itself, never followed.
void RemoveEntries(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const fs::path entry = it->path();
    std::error_code ignored;
    const fs::file_status status = fs::symlink_status(entry, ignored);
    if (fs::is_directory(status)) RemoveEntries(entry);
    if (!fs::is_symlink(status)) {
      fs::permissions(entry, fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove(entry, ignored);
  }
}

}  // namespace

void RemoveTree(const std::filesystem::path& root) {
  // std::filesystem::remove_all of MinGW's library spins without end when an entry it has listed
  // vanishes before it removes it, as the log a stub client renames into place does. Hence the
  // walk above; and since a program the test started may still write here for a moment, a few
  // passes, a little apart, take what it leaves.
  for (int pass = 0; pass < 10; ++pass) {
    std::error_code error;
    if (std::filesystem::is_directory(std::filesystem::symlink_status(root, error))) {
      RemoveEntries(root);
    }
    std::filesystem::remove(root, error);
    if (!std::filesystem::exists(std::filesystem::symlink_status(root, error))) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool WaitForFile(const std::filesystem::path& path, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!std::filesystem::exists(path)) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::u16string CoreText(const std::filesystem::path& path) {
  std::u16string text = path.u16string();
  for (auto& c : text) {
    if (c == u'/') c = u'\\';
  }
  return text;
}

bool HasMultiByteCodePage(bool available) {
  if (available) return true;
  if (std::getenv("TARVO_WINE_LOCALE") != nullptr) {
    ADD_FAILURE() << "TARVO_WINE_LOCALE is set, but the code page has one byte per character";
  } else {
    [] { GTEST_SKIP() << "the system's code page has one byte per character"; }();
  }
  return false;
}

}  // namespace tarvo::test
