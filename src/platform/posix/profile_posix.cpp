// Profile files on POSIX. profile_text.cpp reads and edits the text; this file reads the file
// and replaces it. A write goes to a new file beside the old one, which then takes the old
// one's place by rename: a crash or a full disk at any moment leaves the old file or the new
// one, never a file cut short.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "platform/posix/native_path.h"
#include "platform/posix/profile_text.h"
#include "platform/profile.h"

namespace tarvo {

namespace {

// Owns a file descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (m_fd >= 0) close(m_fd);
  }
  int Get() const { return m_fd; }
  // Closes now; false when the system reports that written data did not make it.
  bool Close() {
    const int fd = m_fd;
    m_fd = -1;
    return close(fd) == 0;
  }

 private:
  int m_fd;
};

// The bytes of the regular file at `path`; nothing when there is none or it cannot be read.
// Opened without blocking and checked to be a regular file first, so that a FIFO or a device
// put in the file's place can neither hang the caller nor feed it without end.
std::optional<std::string> ReadRegularFile(const std::string& path) {
  Descriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (file.Get() < 0 || fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string bytes;
  char chunk[16384];
  for (;;) {
    const ssize_t n = read(file.Get(), chunk, sizeof chunk);
    if (n == 0) return bytes;
    if (n > 0) {
      bytes.append(chunk, static_cast<std::size_t>(n));
    } else if (errno != EINTR) {
      return std::nullopt;
    }
  }
}

bool WriteAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno != EINTR) return false;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  return true;
}

// Replaces (or creates) the file at `target` with `bytes` through a new file in the same
// folder. The new file takes the old one's permission bits and, where allowed, its owner.
bool ReplaceFile(const std::string& target, const std::string& bytes, const struct stat* old) {
  std::random_device random;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
    temp = target + suffix;
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  Descriptor file(fd);
  bool ok = WriteAll(fd, bytes);
  if (ok && old != nullptr) {
    if (old->st_uid != geteuid() || old->st_gid != getegid()) {
      [[maybe_unused]] const int kept = fchown(fd, old->st_uid, old->st_gid);
    }
    ok = fchmod(fd, old->st_mode & 07777) == 0;
  }
  ok = fsync(fd) == 0 && ok;
  ok = file.Close() && ok;
  ok = ok && std::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  // So that the rename itself survives a power cut; the new file is in place either way.
  const auto slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  Descriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Get() >= 0) fsync(directory.Get());
  return true;
}

}  // namespace

DWORD GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                               const char16_t* defaultText, char16_t* buffer, DWORD size,
                               const char16_t* path) {
  if (buffer == nullptr || size == 0) return 0;
  std::optional<std::u16string> text;
  if (section != nullptr && key != nullptr && path != nullptr) {
    if (const auto bytes = ReadRegularFile(NativePath(path))) {
      text = FindProfileValue(*bytes, section, key);
    }
  }
  if (!text) {
    text = defaultText != nullptr ? defaultText : u"";
    while (!text->empty() && text->back() == u' ') text->pop_back();
  }
  const std::size_t count = std::min<std::size_t>(text->size(), size - 1);
  std::copy_n(text->begin(), count, buffer);
  buffer[count] = 0;
  return static_cast<DWORD>(count);
}

BOOL WritePrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* value,
                                const char16_t* path) {
  if (section == nullptr || key == nullptr || value == nullptr || path == nullptr) return FALSE;
  // Through a symbolic link the file it leads to is replaced, and the link stays.
  std::string target = NativePath(path);
  struct stat st {};
  if (lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(target.c_str(), nullptr),
                                                               &std::free);
    if (!resolved) return FALSE;
    target = resolved.get();
  }
  std::string bytes;
  const bool exists = stat(target.c_str(), &st) == 0;
  if (exists) {
    // Windows leaves a read-only file alone whoever asks; here the owner's write bit stands
    // for that attribute, since the rename below would otherwise replace the file regardless.
    if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0) return FALSE;
    std::optional<std::string> current = ReadRegularFile(target);
    if (!current) return FALSE;
    bytes = std::move(*current);
  } else if (errno != ENOENT) {
    return FALSE;
  }
  const std::optional<std::string> edited = SetProfileValue(bytes, section, key, value);
  if (!edited) return FALSE;
  if (exists && *edited == bytes) return TRUE;
  return ReplaceFile(target, *edited, exists ? &st : nullptr) ? TRUE : FALSE;
}

}  // namespace tarvo
