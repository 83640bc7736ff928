#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "support/test_support.h"

extern char** environ;

namespace tarvo::test {

struct Process::Impl {
  pid_t pid = -1;
  std::optional<int> status;
};

Process::Process(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const std::filesystem::path& directory)
    : impl_(new Impl) {
  std::vector<std::string> texts{program.string()};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  if (posix_spawn(&impl_->pid, texts[0].c_str(), &actions, &attributes, argv.data(), environ) !=
      0) {
    impl_->pid = -1;
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

Process::~Process() {
  if (impl_->pid > 0 && !impl_->status) {
    kill(impl_->pid, SIGKILL);
    Wait(std::chrono::seconds(10));
  }
  delete impl_;
}

bool Process::started() const { return impl_->pid > 0; }

std::optional<int> Process::Wait(std::chrono::milliseconds timeout) {
  if (impl_->status || impl_->pid <= 0) return impl_->status;
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(impl_->pid, &status, WNOHANG);
    if (done == impl_->pid) {
      impl_->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return impl_->status;
    }
    if (std::chrono::steady_clock::now() > end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void Process::Kill() {
  if (impl_->pid > 0 && !impl_->status) kill(impl_->pid, SIGKILL);
}

bool Process::Terminate() {
  return impl_->pid > 0 && !impl_->status && kill(impl_->pid, SIGTERM) == 0;
}

}  // namespace tarvo::test
