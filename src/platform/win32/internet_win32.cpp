// HTTP on Win32 over WinINet.

#include "platform/framework.h"
#include "platform/internet.h"
#include "platform/win32/win32_sys.h"

#include <wininet.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace tarvo {

// The handles of one session: its root handle and the requests opened from it. Shared by the
// session object and its files, so that a file may outlive its session object and Abort can
// close whatever is open from any thread. A handle is closed exactly once, under the mutex;
// WinINet may hand a closed handle's value to the next handle it opens. A call that took its
// handle just before Abort closed it may still reach WinINet with the closed value; WinINet
// then fails it, unless another thread opened a handle of that value in that instant; what such
// a call reads is never handed on, and the transfer it took it from fails its own checks.
struct InternetHandles {
  std::mutex mutex;
  HINTERNET root = nullptr;
  std::vector<HINTERNET> requests;
  bool aborted = false;
  bool released = false;  // the session object is gone: the root closes with the last request

  InternetHandles() = default;
  InternetHandles(const InternetHandles&) = delete;
  InternetHandles& operator=(const InternetHandles&) = delete;
  ~InternetHandles() {
    for (HINTERNET request : requests) InternetCloseHandle(request);
    if (root != nullptr) InternetCloseHandle(root);
  }

  // Takes a request that OpenURL returned; closes it and returns false when the session was
  // aborted meanwhile.
  bool Adopt(HINTERNET request) {
    std::lock_guard<std::mutex> lock(mutex);
    if (aborted) {
      InternetCloseHandle(request);
      return false;
    }
    requests.push_back(request);
    return true;
  }

  // The request's handle for one more call, or null once it is closed or aborted.
  HINTERNET Use(HINTERNET request) {
    std::lock_guard<std::mutex> lock(mutex);
    if (aborted) return nullptr;
    return std::find(requests.begin(), requests.end(), request) != requests.end() ? request
                                                                                  : nullptr;
  }

  void CloseRequest(HINTERNET request) {
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = std::find(requests.begin(), requests.end(), request);
    if (found == requests.end()) return;
    InternetCloseHandle(request);
    requests.erase(found);
    CloseReleasedRoot();
  }

  // The session object is closed or gone: the root stays open while requests use it.
  void ReleaseRoot() {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
    CloseReleasedRoot();
  }

  void Abort() {
    std::lock_guard<std::mutex> lock(mutex);
    aborted = true;
    // Closing a handle makes a call blocked in it return with an error.
    for (HINTERNET request : requests) InternetCloseHandle(request);
    requests.clear();
    if (root != nullptr) InternetCloseHandle(root);
    root = nullptr;
  }

  bool IsAborted() {
    std::lock_guard<std::mutex> lock(mutex);
    return aborted;
  }

 private:
  void CloseReleasedRoot() {
    if (released && root != nullptr && requests.empty()) {
      InternetCloseHandle(root);
      root = nullptr;
    }
  }
};

struct CHttpFile::Impl {
  std::shared_ptr<InternetHandles> handles;
  HINTERNET request = nullptr;  // its value only: `handles` says whether it is still open
  DWORD context = 1;

  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl() {
    if (handles) handles->CloseRequest(request);
  }

  // The error of a failed call: a call that failed because the session was aborted reports
  // the cancellation, whatever WinINet made of its closed handle.
  DWORD FailureOf(DWORD error) {
    return handles->IsAborted() ? ERROR_INTERNET_OPERATION_CANCELLED : error;
  }
};

CHttpFile::CHttpFile(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

CHttpFile::~CHttpFile() = default;

BOOL CHttpFile::QueryInfo(DWORD infoLevel, std::u16string& value) {
  value.clear();
  const HINTERNET request = m_impl->handles->Use(m_impl->request);
  if (request == nullptr) return FALSE;
  std::vector<wchar_t> buffer(64);
  for (;;) {
    ::DWORD bytes = static_cast<::DWORD>(buffer.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(request, infoLevel, buffer.data(), &bytes, nullptr)) {
      value.assign(Utf16(buffer.data()), bytes / sizeof(wchar_t));
      return TRUE;
    }
    // A header longer than any that HTTP servers send is not taken.
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes > 65536) return FALSE;
    buffer.resize(bytes / sizeof(wchar_t) + 1);
  }
}

UINT CHttpFile::Read(void* buffer, UINT count) {
  const HINTERNET request = m_impl->handles->Use(m_impl->request);
  if (request == nullptr) {
    throw CInternetException(m_impl->context, m_impl->FailureOf(ERROR_INVALID_HANDLE));
  }
  ::DWORD read = 0;
  if (!InternetReadFile(request, buffer, count, &read)) {
    throw CInternetException(m_impl->context, m_impl->FailureOf(GetLastError()));
  }
  // Bytes that arrived through a handle closed by Abort are not handed on.
  if (m_impl->handles->IsAborted()) {
    throw CInternetException(m_impl->context, ERROR_INTERNET_OPERATION_CANCELLED);
  }
  return read;
}

DWORD CHttpFile::GetLength() {
  const HINTERNET request = m_impl->handles->Use(m_impl->request);
  ::DWORD available = 0;
  if (request == nullptr || !InternetQueryDataAvailable(request, &available, 0, 0) ||
      m_impl->handles->IsAborted()) {
    return 0;
  }
  return available;
}

void CHttpFile::Close() { m_impl->handles->CloseRequest(m_impl->request); }

struct CInternetSession::Impl {
  std::shared_ptr<InternetHandles> handles = std::make_shared<InternetHandles>();
  bool closed = false;

  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl() { handles->ReleaseRoot(); }
};

CInternetSession::CInternetSession(const char16_t* agent, DWORD context)
    : m_impl(std::make_unique<Impl>()) {
  const std::u16string name = agent != nullptr ? std::u16string(agent) : AfxGetAppName();
  const HINTERNET handle =
      InternetOpenW(Wide(name.c_str()), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (handle == nullptr) throw CInternetException(context, GetLastError());
  m_impl->handles->root = handle;
}

CInternetSession::~CInternetSession() = default;

BOOL CInternetSession::SetOption(DWORD option, DWORD value, DWORD flags) {
  if (m_impl->closed || option == kOptionReceiveBuffer) return FALSE;
  std::lock_guard<std::mutex> lock(m_impl->handles->mutex);
  if (m_impl->handles->root == nullptr) return FALSE;
  ::DWORD data = value;
  return InternetSetOptionExW(m_impl->handles->root, option, &data, sizeof(data), flags);
}

std::unique_ptr<CHttpFile> CInternetSession::OpenURL(const char16_t* url, DWORD context,
                                                     DWORD flags, const char16_t* headers) {
  HINTERNET root = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_impl->handles->mutex);
    if (!m_impl->closed && !m_impl->handles->aborted) root = m_impl->handles->root;
  }
  if (root == nullptr) {
    throw CInternetException(context, m_impl->handles->IsAborted()
                                          ? ERROR_INTERNET_OPERATION_CANCELLED
                                          : ERROR_INVALID_HANDLE);
  }
  auto impl = std::make_unique<CHttpFile::Impl>();
  impl->handles = m_impl->handles;
  impl->context = context;
  const HINTERNET request = InternetOpenUrlW(
      root, Wide(url), headers != nullptr ? Wide(headers) : nullptr,
      headers != nullptr ? static_cast<::DWORD>(-1) : 0, flags, static_cast<DWORD_PTR>(context));
  if (request == nullptr) throw CInternetException(context, impl->FailureOf(GetLastError()));
  if (!impl->handles->Adopt(request)) {
    throw CInternetException(context, ERROR_INTERNET_OPERATION_CANCELLED);
  }
  impl->request = request;
  return std::make_unique<CHttpFile>(std::move(impl));
}

void CInternetSession::Close() {
  m_impl->closed = true;
  m_impl->handles->ReleaseRoot();
}

void CInternetSession::Abort() { m_impl->handles->Abort(); }

}  // namespace tarvo
