// Installs one pending archive into an installation, as the launcher's installation pass does
// (without flushing), and prints what that cost in memory: the process's peak (POSIX: its
// peak resident set; Win32: its peak of private memory and of working set) and the largest
// single block the installation asked of operator new. For bench/patch.sh, whose archives carry
// patches of large files:
//   patch_install_peak INSTALLATION_FOLDER ARCHIVE
// Exits 0 when the archive was installed whole, 1 when not.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "common/utf.h"
#include "install/extract_archive.h"
#include "peak_memory.h"
#include "platform/disk_flush.h"

namespace {

std::atomic<std::size_t> g_largest{0};

void Note(std::size_t size) {
  std::size_t seen = g_largest.load();
  while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
  }
}

}  // namespace

void* operator new(std::size_t size) {
  Note(size);
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: patch_install_peak INSTALLATION_FOLDER ARCHIVE\n");
    return 2;
  }
  const tarvo::ArchiveInstall installed = tarvo::ExtractArchiveToProgramDir(
      tarvo::Utf8ToUtf16(argv[2]), tarvo::Utf8ToUtf16(argv[1]) + u"\\", std::nullopt,
      tarvo::NoDiskFlush());
  std::printf("%s, largest allocation %.1f MiB\n", DescribePeakMemory().c_str(),
              static_cast<double>(g_largest.load()) / (1024.0 * 1024.0));
  return installed == tarvo::ArchiveInstall::kDone ? 0 : 1;
}
