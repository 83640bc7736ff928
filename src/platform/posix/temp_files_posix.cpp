// Temporary file names on POSIX, formed as Windows forms them.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/posix/native_path.h"
#include "platform/temp_files.h"

namespace tarvo {

DWORD GetTempPathW(DWORD size, char16_t* buffer) {
  const char* dir = std::getenv("TMPDIR");
  std::u16string path = CorePath(dir != nullptr && dir[0] != 0 ? dir : "/tmp");
  if (path.back() != u'\\') path += u'\\';
  if (path.size() + 1 > size) return static_cast<DWORD>(path.size() + 1);
  std::copy(path.begin(), path.end(), buffer);
  buffer[path.size()] = 0;
  return static_cast<DWORD>(path.size());
}

UINT GetTempFileNameW(const char16_t* path, const char16_t* prefix, UINT unique,
                      char16_t* tempFileName) {
  std::u16string base = path != nullptr ? path : u"";
  if (!base.empty() && base.back() != u'\\' && base.back() != u'/') base += u'\\';
  base += std::u16string(prefix != nullptr ? prefix : u"").substr(0, 3);

  const auto form = [&base](UINT number) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string name = base;
    for (int shift = 12; shift >= 0; shift -= 4) name += kHex[(number >> shift) & 0xF];
    return name + u".tmp";
  };
  const auto emit = [tempFileName](const std::u16string& name) {
    std::copy(name.begin(), name.end(), tempFileName);
    tempFileName[name.size()] = 0;
  };
  if (base.size() + 8 + 1 > MAX_PATH) return 0;

  if (unique != 0) {
    emit(form(unique & 0xFFFF));
    return unique & 0xFFFF;
  }
  // Every number once, from a random start, until one names no file yet.
  const UINT start =
      static_cast<UINT>(std::chrono::steady_clock::now().time_since_epoch().count() ^ getpid()) &
      0xFFFF;
  for (UINT i = 0; i < 0x10000; ++i) {
    const UINT number = (start + i) & 0xFFFF;
    if (number == 0) continue;
    const std::u16string name = form(number);
    const int fd = open(NativePath(name).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      emit(name);
      return number;
    }
    if (errno != EEXIST) return 0;
  }
  return 0;
}

}  // namespace tarvo
