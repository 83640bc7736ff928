#pragma once
// HTTP over the system's Internet client: a session with its options, and the file of one
// request with its status, headers and body.
//
// Win32: WinINet. POSIX: libcurl, driven so that a read never pulls more than it was asked
// for (memory stays bounded by a few read pieces, whatever the body's size); libcurl honours
// http_proxy, https_proxy and no_proxy. POSIX stands in for WinINet's defaults with finite
// time-outs: kDefaultConnectTimeoutMs and kDefaultReceiveTimeoutMs below.

#include <memory>
#include <string>

#include "platform/exceptions.h"
#include "platform/types.h"

namespace tarvo {

// Session options (SetOption). Values are in milliseconds for the time-outs.
inline constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
inline constexpr DWORD INTERNET_OPTION_CONNECT_RETRIES = 3;
inline constexpr DWORD INTERNET_OPTION_CONNECT_BACKOFF = 4;
inline constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
inline constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
// Not WinINet's: the most bytes the system may hold for a request before they are read (0: the
// system's own, which grows as it sees fit), so that a transfer read slowly is sent slowly too.
// POSIX: the socket's receive buffer (SO_RCVBUF). WinINet has no such setting: FALSE there.
inline constexpr DWORD kOptionReceiveBuffer = 0x10001;

// Flags of OpenURL.
inline constexpr DWORD INTERNET_FLAG_TRANSFER_ASCII = 0x00000001;
inline constexpr DWORD INTERNET_FLAG_TRANSFER_BINARY = 0x00000002;
inline constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;

// What CHttpFile::QueryInfo can ask for.
inline constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr DWORD HTTP_QUERY_LAST_MODIFIED = 11;
inline constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
inline constexpr DWORD HTTP_QUERY_CONTENT_RANGE = 53;
inline constexpr DWORD HTTP_QUERY_ETAG = 54;

// Error numbers that CInternetException carries (WinINet's own on Win32; POSIX maps libcurl's
// failures onto the nearest of these).
inline constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;

// POSIX defaults where WinINet would use the system's: connecting (name resolution included)
// and waiting for the next bytes of a response.
inline constexpr DWORD kDefaultConnectTimeoutMs = 60000;
inline constexpr DWORD kDefaultReceiveTimeoutMs = 30000;

// The file of one HTTP request, as OpenURL returns it: the response's headers have arrived,
// its body is read piece by piece. Closed when the object goes.
class CHttpFile {
 public:
  struct Impl;
  explicit CHttpFile(std::unique_ptr<Impl> impl);
  CHttpFile(const CHttpFile&) = delete;
  CHttpFile& operator=(const CHttpFile&) = delete;
  ~CHttpFile();

  // Puts the text of the status code (HTTP_QUERY_STATUS_CODE) or of a header
  // (HTTP_QUERY_CONTENT_LENGTH, _ETAG, _LAST_MODIFIED, _CONTENT_RANGE) into `value`, as the
  // server sent it. FALSE, and `value` empty, when the response has no such header or the file
  // is closed.
  BOOL QueryInfo(DWORD infoLevel, std::u16string& value);

  // Reads at most `count` bytes of the body into `buffer` and returns how many were read: at
  // least 1 while the body goes on (waiting for the server as long as the receive time-out
  // allows), 0 at its end. Throws CInternetException when the transfer fails (connection
  // dropped, body cut short of its Content-Length, time-out) or the file is closed.
  UINT Read(void* buffer, UINT count);

  // The number of body bytes that can be read now without waiting long: waits for the next
  // bytes like Read, and returns 0 at the end of the body or on any failure. Never throws.
  DWORD GetLength();

  // Closes the request; later reads throw. Closing twice does nothing.
  void Close();

 private:
  std::unique_ptr<Impl> m_impl;
};

// A connection object of the system's Internet client.
class CInternetSession {
 public:
  // Opens a session that uses the system's proxy configuration. Without `agent` the user agent
  // is the application's name (the executable's title when there is no application object).
  // `context` is given to every request that does not name its own. Throws CInternetException.
  explicit CInternetSession(const char16_t* agent = nullptr, DWORD context = 1);
  CInternetSession(const CInternetSession&) = delete;
  CInternetSession& operator=(const CInternetSession&) = delete;
  ~CInternetSession();

  // Sets a 32-bit option (INTERNET_OPTION_*) for the requests opened afterwards. FALSE when the
  // option is not known here; callers may ignore the result.
  BOOL SetOption(DWORD option, DWORD value, DWORD flags = 0);

  // Sends a GET of `url` (http or https) and waits for the response's headers, following
  // redirections. Returns the request's file whatever the status code. `flags` are
  // INTERNET_FLAG_*: INTERNET_FLAG_RELOAD asks every cache on the way for a fresh copy.
  // `headers`, when given, are further request header lines, each "Name: value\r\n"; the
  // caller makes sure that no value holds a line break.
  // Throws CInternetException when there is no response (bad URL, name not resolved,
  // connection refused or timed out, no headers within the receive time-out).
  // The file may outlive the session.
  std::unique_ptr<CHttpFile> OpenURL(const char16_t* url, DWORD context = 1,
                                     DWORD flags = INTERNET_FLAG_TRANSFER_ASCII,
                                     const char16_t* headers = nullptr);

  // Closes the session. Files already opened stay usable.
  void Close();

  // Ends every request of this session, from any thread: a call blocked in OpenURL, Read or
  // GetLength gives up soon (OpenURL and Read throw CInternetException with
  // ERROR_INTERNET_OPERATION_CANCELLED, GetLength gives 0), and so does every later call.
  // Never throws. Win32: the session's handles are closed, which is how WinINet is told to
  // give up a blocking call; a call that the system does not give up still never reaches the
  // caller's data again. The caller must not count on the call returning: code that has to go
  // on at a deadline waits for the call on another thread.
  void Abort();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace tarvo
