#pragma once
// What the tests share: temporary folders, files as bytes, and running a program.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::test {

// A fresh, empty folder under the system's temporary directory, removed with everything in it
// when the object goes.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Removes `root` and everything in it, as far as it can: never throws, never follows a link, and
// ends even while another program is still writing in it.
void RemoveTree(const std::filesystem::path& root);

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

// Waits until `path` exists or `timeout` has passed; true when it exists.
bool WaitForFile(const std::filesystem::path& path, std::chrono::milliseconds timeout);

// The UTF-16 form of a filesystem path, in the core's form (backslashes on POSIX too).
std::u16string CoreText(const std::filesystem::path& path);

// The bytes of `text` in the system's ANSI code page (UTF-8 on POSIX), or nothing when the code
// page cannot hold it.
std::optional<std::string> AnsiBytes(const std::u16string& text);

// For a test that needs a code page of more than one byte per character: true when it has one
// (`available`); else false, and the test is skipped, or fails where TARVO_WINE_LOCALE promised
// one. The caller returns at once on false.
bool HasMultiByteCodePage(bool available);

// A program started by a test. Ends (killed) when the object goes, if still running.
class Process {
 public:
  // Starts `program` (absolute, or relative to `directory`) with `arguments`, in `directory`.
  Process(const std::filesystem::path& program, const std::vector<std::string>& arguments,
          const std::filesystem::path& directory);
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  bool started() const;
  // The exit status once the program has ended within `timeout`; nothing if it is still running.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  // Ends the program at once (SIGKILL, TerminateProcess).
  void Kill();
  // POSIX: sends SIGTERM. Win32: not available (returns false).
  bool Terminate();

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace tarvo::test
