// HTTP on POSIX over libcurl's multi interface. The transfer runs only while a caller waits
// for bytes, and libcurl is paused whenever more than kPendingLimit bytes wait for the reader,
// so memory stays bounded by a few pieces whatever the size of the body.

#include <curl/curl.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/utf.h"
#include "platform/framework.h"
#include "platform/internet.h"
#include "platform/posix/response_headers.h"

namespace tarvo {

namespace {

using Clock = std::chrono::steady_clock;

// Body bytes taken from libcurl ahead of the reader (or fewer: kOptionReceiveBuffer); libcurl
// hands over at most 16 KiB at once.
constexpr std::size_t kPendingLimit = 64 * 1024;
// Bytes libcurl receives from the socket at once.
constexpr long kReceiveBufferSize = 64 * 1024;
// Redirections followed before the request fails.
constexpr long kMaxRedirections = 10;

// Error numbers of the file functions, for operations on a closed request.
constexpr DWORD ERROR_INVALID_HANDLE = 6;

void InitCurlOnce() {
  // Runs once, before any other libcurl call of the process; later callers wait for it.
  static const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (code != CURLE_OK) throw CInternetException(0, ERROR_INTERNET_INTERNAL_ERROR);
}

DWORD InternetError(CURLcode code) {
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
      return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT:
      return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_ABORTED_BY_CALLBACK:
      return ERROR_INTERNET_OPERATION_CANCELLED;
    default:
      return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

// Shared by a session and the requests it opened, so that Abort reaches every request that
// can still wait, from any thread, whichever of them goes first.
struct SessionCancel {
  std::atomic<bool> aborted{false};
  std::mutex mutex;
  std::vector<CURLM*> waiting;  // the multi handles of open requests

  // Adds a request's multi handle; false once the session is aborted.
  bool Add(CURLM* multi) {
    std::lock_guard<std::mutex> lock(mutex);
    if (aborted) return false;
    waiting.push_back(multi);
    return true;
  }
  void Remove(CURLM* multi) {
    std::lock_guard<std::mutex> lock(mutex);
    waiting.erase(std::remove(waiting.begin(), waiting.end(), multi), waiting.end());
  }
  void Abort() {
    std::lock_guard<std::mutex> lock(mutex);
    aborted = true;
    // Wakes a request waiting in curl_multi_poll; its pump then sees the flag.
    for (CURLM* multi : waiting) curl_multi_wakeup(multi);
  }
};

struct CHttpFile::Impl {
  // Destroyed in reverse order: the easy handle goes before the list it was given.
  std::unique_ptr<curl_slist, ListDeleter> request_headers;
  std::unique_ptr<CURLM, MultiDeleter> multi;
  std::unique_ptr<CURL, EasyDeleter> easy;
  bool attached = false;
  std::shared_ptr<SessionCancel> cancel;
  bool registered = false;

  DWORD context = 1;
  Clock::duration receive_timeout{};
  DWORD receive_buffer = 0;
  ResponseHeaders response;
  bool body_started = false;

  // Body bytes received and not read yet: pending[offset, end).
  std::vector<char> pending;
  std::size_t offset = 0;
  bool paused = false;
  bool done = false;
  CURLcode result = CURLE_OK;
  // Set by the callbacks: a connection exists, bytes arrived since the last look.
  bool connected = false;
  bool activity = false;

  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl() {
    Detach();
    Unregister();
  }

  std::size_t available() const { return pending.size() - offset; }
  // With a bounded receive buffer, libcurl holds no more than it either.
  std::size_t PendingLimit() const {
    return receive_buffer > 0 ? std::min<std::size_t>(kPendingLimit, receive_buffer)
                              : kPendingLimit;
  }

  void Detach() {
    if (attached) curl_multi_remove_handle(multi.get(), easy.get());
    attached = false;
  }

  // Leaves the session's reach; done before the multi handle goes.
  void Unregister() {
    if (registered) cancel->Remove(multi.get());
    registered = false;
  }

  void Finish(CURLcode code) {
    done = true;
    result = code;
    Detach();
  }

  // Lets the transfer run until `satisfied()` holds or it has ended (successfully, with an
  // error, or after no byte arrived for the receive time-out). Never throws.
  template <class Predicate>
  void Pump(Predicate satisfied) {
    Clock::time_point last_byte = Clock::now();
    while (!satisfied() && !done) {
      if (cancel->aborted) {
        Finish(CURLE_ABORTED_BY_CALLBACK);
        break;
      }
      if (paused && available() == 0) {
        // libcurl hands over the piece it kept back from inside this call.
        paused = false;
        if (curl_easy_pause(easy.get(), CURLPAUSE_CONT) != CURLE_OK) {
          Finish(CURLE_RECV_ERROR);
          break;
        }
        if (satisfied()) break;
      }
      int running = 0;
      if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
        Finish(CURLE_OUT_OF_MEMORY);
        break;
      }
      int queued = 0;
      while (const CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg == CURLMSG_DONE) Finish(message->data.result);
      }
      if (satisfied() || done) break;

      // The receive time-out counts from the connection on, and restarts with every byte.
      const Clock::time_point now = Clock::now();
      if (activity || !connected) {
        activity = false;
        last_byte = now;
      } else if (now - last_byte >= receive_timeout) {
        Finish(CURLE_OPERATION_TIMEDOUT);
        break;
      }
      const auto left = receive_timeout - (now - last_byte);
      const auto wait = std::clamp<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1, 1, 1000);
      curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(wait), nullptr);
    }
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Impl*>(user);
    const std::size_t bytes = size * count;
    self->activity = true;
    self->body_started = true;
    if (self->available() > 0 && self->available() + bytes > self->PendingLimit()) {
      self->paused = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    try {
      self->pending.erase(self->pending.begin(),
                          self->pending.begin() + static_cast<std::ptrdiff_t>(self->offset));
      self->offset = 0;
      self->pending.insert(self->pending.end(), data, data + bytes);
    } catch (...) {
      return 0;  // libcurl ends the transfer with a write error
    }
    return bytes;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Impl*>(user);
    const std::size_t bytes = size * count;
    self->activity = true;
    try {
      self->response.AddLine(std::string_view(data, bytes));
    } catch (...) {
      return 0;
    }
    return bytes;
  }

  // Bounds the socket's receive buffer to `receive_buffer` bytes (none: the system's own).
  static int OnSocket(void* user, curl_socket_t socket, curlsocktype purpose) {
    const auto* self = static_cast<Impl*>(user);
    if (purpose == CURLSOCKTYPE_IPCXN && self->receive_buffer > 0) {
      const int size = static_cast<int>(std::min<DWORD>(self->receive_buffer, 1 << 30));
      setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    return CURL_SOCKOPT_OK;
  }

  static int OnConnected(void* user, char*, char*, int, int) {
    auto* self = static_cast<Impl*>(user);
    self->connected = true;
    self->activity = true;
    return CURL_PREREQFUNC_OK;
  }
};

CHttpFile::CHttpFile(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

CHttpFile::~CHttpFile() = default;

BOOL CHttpFile::QueryInfo(DWORD infoLevel, std::u16string& value) {
  value.clear();
  if (!m_impl->easy) return FALSE;
  if (infoLevel == HTTP_QUERY_STATUS_CODE && !m_impl->response.status().empty()) {
    value = Utf8ToUtf16(m_impl->response.status());
    return TRUE;
  }
  const ResponseHeaders& response = m_impl->response;
  const std::optional<std::string>* header = nullptr;
  switch (infoLevel) {
    case HTTP_QUERY_CONTENT_LENGTH:
      header = &response.content_length();
      break;
    case HTTP_QUERY_ETAG:
      header = &response.etag();
      break;
    case HTTP_QUERY_LAST_MODIFIED:
      header = &response.last_modified();
      break;
    case HTTP_QUERY_CONTENT_RANGE:
      header = &response.content_range();
      break;
    default:
      return FALSE;
  }
  if (!*header) return FALSE;
  value = Utf8ToUtf16(**header);
  return TRUE;
}

UINT CHttpFile::Read(void* buffer, UINT count) {
  Impl& impl = *m_impl;
  if (!impl.easy) throw CInternetException(impl.context, ERROR_INVALID_HANDLE);
  if (count == 0) return 0;
  impl.Pump([&impl] { return impl.available() > 0; });
  if (impl.available() == 0) {
    if (impl.result != CURLE_OK) throw CInternetException(impl.context, InternetError(impl.result));
    return 0;
  }
  const std::size_t n = std::min<std::size_t>(count, impl.available());
  std::memcpy(buffer, impl.pending.data() + impl.offset, n);
  impl.offset += n;
  return static_cast<UINT>(n);
}

DWORD CHttpFile::GetLength() {
  Impl& impl = *m_impl;
  if (!impl.easy) return 0;
  impl.Pump([&impl] { return impl.available() > 0; });
  return static_cast<DWORD>(impl.available());
}

void CHttpFile::Close() {
  m_impl->Detach();
  m_impl->Unregister();
  m_impl->easy.reset();
  m_impl->multi.reset();
  m_impl->pending = {};
  m_impl->offset = 0;
}

struct CInternetSession::Impl {
  std::shared_ptr<SessionCancel> cancel = std::make_shared<SessionCancel>();
  std::string agent;
  DWORD context = 1;
  DWORD connect_timeout_ms = kDefaultConnectTimeoutMs;
  DWORD receive_timeout_ms = kDefaultReceiveTimeoutMs;
  DWORD receive_buffer = 0;
  bool closed = false;
};

CInternetSession::CInternetSession(const char16_t* agent, DWORD context)
    : m_impl(std::make_unique<Impl>()) {
  InitCurlOnce();
  m_impl->agent = Utf16ToUtf8(agent != nullptr ? std::u16string(agent) : AfxGetAppName());
  m_impl->context = context;
}

CInternetSession::~CInternetSession() = default;

BOOL CInternetSession::SetOption(DWORD option, DWORD value, DWORD) {
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
      m_impl->connect_timeout_ms = value;
      return TRUE;
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
      m_impl->receive_timeout_ms = value;
      return TRUE;
    case kOptionReceiveBuffer:
      m_impl->receive_buffer = value;
      return TRUE;
    case INTERNET_OPTION_CONNECT_RETRIES:
    case INTERNET_OPTION_CONNECT_BACKOFF:
      // libcurl makes one attempt per address of the host and never waits between them.
      return TRUE;
    default:
      return FALSE;
  }
}

std::unique_ptr<CHttpFile> CInternetSession::OpenURL(const char16_t* url, DWORD context,
                                                     DWORD flags, const char16_t* headers) {
  if (m_impl->closed) throw CInternetException(context, ERROR_INVALID_HANDLE);
  auto impl = std::make_unique<CHttpFile::Impl>();
  impl->cancel = m_impl->cancel;
  impl->context = context;
  impl->receive_timeout = std::chrono::milliseconds(m_impl->receive_timeout_ms);
  impl->receive_buffer = m_impl->receive_buffer;
  impl->multi.reset(curl_multi_init());
  impl->easy.reset(curl_easy_init());
  if (!impl->multi || !impl->easy) throw CInternetException(context, ERROR_INTERNET_INTERNAL_ERROR);
  if (!impl->cancel->Add(impl->multi.get())) {
    throw CInternetException(context, ERROR_INTERNET_OPERATION_CANCELLED);
  }
  impl->registered = true;

  CURL* easy = impl->easy.get();
  const std::string address = Utf16ToUtf8(url != nullptr ? url : u"");
  curl_easy_setopt(easy, CURLOPT_URL, address.c_str());
  // Addresses come from a downloaded list: nothing but HTTP, on every hop.
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirections);
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, m_impl->agent.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_impl->connect_timeout_ms));
  curl_easy_setopt(
      easy, CURLOPT_BUFFERSIZE,
      m_impl->receive_buffer > 0
          ? std::clamp<long>(static_cast<long>(m_impl->receive_buffer), 1024, kReceiveBufferSize)
          : kReceiveBufferSize);
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CHttpFile::Impl::OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, impl.get());
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CHttpFile::Impl::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, impl.get());
  curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &CHttpFile::Impl::OnSocket);
  curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, impl.get());
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &CHttpFile::Impl::OnConnected);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, impl.get());
  std::vector<std::string> lines;
  if (flags & INTERNET_FLAG_RELOAD) lines = {"Cache-Control: no-cache", "Pragma: no-cache"};
  if (headers != nullptr) {
    const std::string text = Utf16ToUtf8(headers);
    for (std::size_t start = 0; start < text.size();) {
      std::size_t end = text.find_first_of("\r\n", start);
      if (end == std::string::npos) end = text.size();
      if (end > start) lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const std::string& line : lines) {
    curl_slist* list = curl_slist_append(impl->request_headers.get(), line.c_str());
    if (list == nullptr) throw CInternetException(context, ERROR_INTERNET_INTERNAL_ERROR);
    impl->request_headers.release();
    impl->request_headers.reset(list);
  }
  if (impl->request_headers)
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, impl->request_headers.get());

  if (curl_multi_add_handle(impl->multi.get(), easy) != CURLM_OK) {
    throw CInternetException(context, ERROR_INTERNET_INTERNAL_ERROR);
  }
  impl->attached = true;
  CHttpFile::Impl& file = *impl;
  file.Pump([&file] { return file.response.complete() || file.body_started; });
  if (!file.response.complete() && !file.body_started && file.result != CURLE_OK) {
    throw CInternetException(context, InternetError(file.result));
  }
  return std::make_unique<CHttpFile>(std::move(impl));
}

void CInternetSession::Close() { m_impl->closed = true; }

void CInternetSession::Abort() { m_impl->cancel->Abort(); }

}  // namespace tarvo
