// HTTP on Win32 over WinINet.

#include "platform/framework.h"
#include "platform/internet.h"
#include "platform/win32/win32_sys.h"

#include <wininet.h>

#include <vector>

namespace tarvo {

namespace {

struct InternetHandleCloser {
  void operator()(void* handle) const { InternetCloseHandle(handle); }
};

// A WinINet handle shared by its owner and the handles opened from it: closing a session
// handle closes its requests with it, so a request keeps its session open.
using SharedInternetHandle = std::shared_ptr<void>;

SharedInternetHandle ShareHandle(HINTERNET handle) {
  return SharedInternetHandle(handle, InternetHandleCloser());
}

}  // namespace

struct CHttpFile::Impl {
  // Declared first so that it goes last: the request before the session it keeps open.
  SharedInternetHandle session;
  std::unique_ptr<void, InternetHandleCloser> request;
  DWORD context = 1;
};

CHttpFile::CHttpFile(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

CHttpFile::~CHttpFile() = default;

BOOL CHttpFile::QueryInfo(DWORD infoLevel, std::u16string& value) {
  value.clear();
  if (!m_impl->request) return FALSE;
  std::vector<wchar_t> buffer(64);
  for (;;) {
    ::DWORD bytes = static_cast<::DWORD>(buffer.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(m_impl->request.get(), infoLevel, buffer.data(), &bytes, nullptr)) {
      value.assign(Utf16(buffer.data()), bytes / sizeof(wchar_t));
      return TRUE;
    }
    // A header longer than any that HTTP servers send is not taken.
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes > 65536) return FALSE;
    buffer.resize(bytes / sizeof(wchar_t) + 1);
  }
}

UINT CHttpFile::Read(void* buffer, UINT count) {
  if (!m_impl->request) throw CInternetException(m_impl->context, ERROR_INVALID_HANDLE);
  ::DWORD read = 0;
  if (!InternetReadFile(m_impl->request.get(), buffer, count, &read)) {
    throw CInternetException(m_impl->context, GetLastError());
  }
  return read;
}

DWORD CHttpFile::GetLength() {
  ::DWORD available = 0;
  if (!m_impl->request ||
      !InternetQueryDataAvailable(m_impl->request.get(), &available, 0, 0)) {
    return 0;
  }
  return available;
}

void CHttpFile::Close() { m_impl->request.reset(); }

struct CInternetSession::Impl {
  SharedInternetHandle session;
};

CInternetSession::CInternetSession(const char16_t* agent, DWORD context)
    : m_impl(std::make_unique<Impl>()) {
  const std::u16string name = agent != nullptr ? std::u16string(agent) : AfxGetAppName();
  const HINTERNET handle =
      InternetOpenW(Wide(name.c_str()), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (handle == nullptr) throw CInternetException(context, GetLastError());
  m_impl->session = ShareHandle(handle);
}

CInternetSession::~CInternetSession() = default;

BOOL CInternetSession::SetOption(DWORD option, DWORD value, DWORD flags) {
  if (!m_impl->session) return FALSE;
  ::DWORD data = value;
  return InternetSetOptionExW(m_impl->session.get(), option, &data, sizeof(data), flags);
}

std::unique_ptr<CHttpFile> CInternetSession::OpenURL(const char16_t* url, DWORD context,
                                                     DWORD flags) {
  if (!m_impl->session) throw CInternetException(context, ERROR_INVALID_HANDLE);
  auto impl = std::make_unique<CHttpFile::Impl>();
  impl->session = m_impl->session;
  impl->context = context;
  impl->request.reset(InternetOpenUrlW(m_impl->session.get(), Wide(url), nullptr, 0, flags,
                                       static_cast<DWORD_PTR>(context)));
  if (!impl->request) throw CInternetException(context, GetLastError());
  return std::make_unique<CHttpFile>(std::move(impl));
}

void CInternetSession::Close() { m_impl->session.reset(); }

}  // namespace tarvo
