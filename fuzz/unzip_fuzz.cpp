// Whole archives, extracted in the installer's order into a temporary root: no crash, no
// sanitizer report, and nothing written anywhere but below the root.
//
// The root lies deep in a folder of its own. Extraction refuses paths longer than 259 code
// units, so a name that climbed out of the root would land in one of the folders above it,
// where the check below finds it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <unistd.h>

#include "unzip/zip_archive.h"

namespace {

namespace fs = std::filesystem;

constexpr int kDepth = 48;

struct Sandbox {
  fs::path top;
  fs::path root;

  Sandbox() {
    top = fs::temp_directory_path() / ("tarvo-unzip-fuzz-" + std::to_string(getpid()));
    fs::remove_all(top);
    root = top;
    for (int i = 0; i < kDepth; ++i) root /= "d";
    fs::create_directories(root);
  }
  ~Sandbox() {
    Clear(top);
    std::error_code error;
    fs::remove_all(top, error);
  }

  // Empties `folder`, read-only files and folders included.
  static void Clear(const fs::path& folder) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    for (const auto& entry : fs::directory_iterator(folder, error)) fs::remove_all(entry, error);
  }

  // Each folder above the root holds the next one only (and the top the archive too).
  bool NothingOutsideRoot() const {
    fs::path folder = top;
    for (int level = 0; level < kDepth; ++level) {
      for (const auto& entry : fs::directory_iterator(folder)) {
        const auto name = entry.path().filename();
        if (name != "d" && !(level == 0 && name == "in.zip")) return false;
      }
      folder /= "d";
    }
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Sandbox sandbox;
  const fs::path archive = sandbox.top / "in.zip";
  {
    std::ofstream out(archive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const fs::path saved = fs::current_path();
  fs::current_path(sandbox.root);
  if (const tarvo::ZipHandle zip = tarvo::ZipOpenArchive(archive.u16string().c_str())) {
    tarvo::ZipItem item{};
    tarvo::ZipGetItem(zip, -1, &item);
    for (std::int32_t i = 0, count = item.index; i < count; ++i) {
      tarvo::ZipGetItem(zip, i, &item);
      tarvo::ZipExtractItem(zip, i, item.name);
    }
    tarvo::ZipCloseArchive(zip);
  }
  fs::current_path(saved);
  if (!sandbox.NothingOutsideRoot()) std::abort();
  Sandbox::Clear(sandbox.root);
  return 0;
}
