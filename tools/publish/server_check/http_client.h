#pragma once
// One HTTP GET as the update server's checker needs it: the status, the headers, and as much of
// the body as asked for. Redirections are not followed and nothing is decoded, so what comes
// back is what the server sent.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace tarvo::publish {

struct HttpResponse {
  long status = 0;
  // Header fields by name in lower case; a repeated field keeps its last value.
  std::map<std::string, std::string> headers;
  std::string body;  // at most the bytes asked for

  // The field's value, or empty text.
  std::string Header(const std::string& lowerCaseName) const;
};

// GETs `url` with the extra request header lines `headers` ("Range: bytes=0-"), reading at most
// `maxBody` bytes of the body (0: the headers alone). Throws std::runtime_error saying why when
// no response arrived (no connection, a time-out).
HttpResponse HttpGet(const std::string& url, const std::vector<std::string>& headers,
                     std::size_t maxBody);

}  // namespace tarvo::publish
