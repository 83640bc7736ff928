#include "support/test_support.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace tarvo::test {

namespace {

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

}  // namespace

struct Process::Impl {
  HANDLE process = nullptr;
  std::optional<int> status;
};

Process::Process(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const std::filesystem::path& directory)
    : impl_(new Impl) {
  std::wstring command = Quoted(program.wstring());
  for (const auto& argument : arguments) {
    command += L" " + Quoted(std::filesystem::path(argument).wstring());
  }
  // A relative program is found from `directory`, as the POSIX build does: the search starts
  // in the caller's current directory, so that is `directory` while the process is created.
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(directory);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     directory.wstring().c_str(), &startup, &info)) {
    CloseHandle(info.hThread);
    impl_->process = info.hProcess;
  }
  std::filesystem::current_path(previous);
}

Process::~Process() {
  if (impl_->process != nullptr) {
    if (!impl_->status) {
      TerminateProcess(impl_->process, 137);
      WaitForSingleObject(impl_->process, 10000);
    }
    CloseHandle(impl_->process);
  }
  delete impl_;
}

bool Process::started() const { return impl_->process != nullptr; }

std::optional<int> Process::Wait(std::chrono::milliseconds timeout) {
  if (impl_->status || impl_->process == nullptr) return impl_->status;
  if (WaitForSingleObject(impl_->process, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  GetExitCodeProcess(impl_->process, &code);
  impl_->status = static_cast<int>(code);
  return impl_->status;
}

void Process::Kill() {
  if (impl_->process != nullptr && !impl_->status) TerminateProcess(impl_->process, 137);
}

bool Process::Terminate() { return false; }

}  // namespace tarvo::test
