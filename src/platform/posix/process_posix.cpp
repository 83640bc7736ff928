// Starting the client on POSIX.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <thread>

#include "common/utf.h"
#include "platform/posix/native_path.h"
#include "platform/posix/spawn_gate.h"
#include "platform/process.h"

extern char** environ;

namespace tarvo {

BOOL ShellExecuteW(HWND, const char16_t*, const char16_t* file, const char16_t* parameters,
                   const char16_t* directory, int) {
  if (file == nullptr) return FALSE;
  const std::string path = NativePath(file);
  // The parameters are text for the client, not a path: no separator is turned.
  const std::string argument = Utf16ToUtf8(parameters != nullptr ? parameters : u"");
  const std::string folder = directory != nullptr ? NativePath(directory) : std::string();

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The client gets a clean signal state and its own session, so that it outlives the
  // launcher and a terminal's Ctrl-C for the launcher does not reach it.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  // The client gets nothing of this process beyond the standard streams: no sockets of
  // downloads under way, no files being written.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  std::string arg0 = path;
  std::string arg1 = argument;
  char* argv[] = {arg0.data(), arg1.empty() ? nullptr : arg1.data(), nullptr};
  pid_t pid = 0;
  int error = 0;
  {
    // posix_spawn returns once the child runs its program, its copies of descriptors closed.
    const std::unique_lock<std::shared_mutex> gate(SpawnGate());
    error = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return FALSE;
  // Reap the client when it ends while this process still runs; after this process has ended
  // the client belongs to init, which reaps it.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return TRUE;
}

}  // namespace tarvo
