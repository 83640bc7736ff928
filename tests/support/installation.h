#pragma once
// A temporary installation for end-to-end tests: the launcher executable of this build copied
// into "<root>/install", with the stub client beside it as Velmora.exe. With `signedUpdates`,
// the launcher is the one that trusts only updates signed with the tests' key.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tarvo::test {

// One start of the stub client, as it recorded it.
struct ClientStart {
  std::vector<std::string> arguments;
  std::string directory;
  std::string descriptors;  // POSIX: those it was given beyond the standard streams
};

class Installation {
 public:
  explicit Installation(bool withClient = true, bool signedUpdates = false);

  const std::filesystem::path& root() const { return temp_.path(); }
  std::filesystem::path dir() const { return temp_.path() / "install"; }
  std::filesystem::path exe() const;

  // Waits until the client has recorded `starts` starts (or `timeout` has passed), then returns
  // every start it recorded.
  std::vector<ClientStart> WaitForClient(std::chrono::milliseconds timeout,
                                         std::size_t starts = 1) const;
  std::string ClientLog() const;

 private:
  std::vector<ClientStart> ClientStarts() const;

  TempDir temp_;
};

}  // namespace tarvo::test
