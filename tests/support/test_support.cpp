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

TempDir::~TempDir() {
  std::error_code error;
  // Read-only files are made writable first so that everything can go.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
  }
  std::filesystem::remove_all(path_, error);
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
