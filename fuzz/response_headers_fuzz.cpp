// A hostile server's header lines, as the POSIX Internet layer collects them: never read past
// a line, never keep more than the set lengths, and a complete answer always has a status.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/posix/response_headers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  tarvo::ResponseHeaders headers;
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    const std::size_t length = end == std::string_view::npos ? input.size() : end + 1;
    headers.AddLine(input.substr(0, length));
    input.remove_prefix(length);
    if (headers.status().size() > tarvo::ResponseHeaders::kMaxStatus) std::abort();
    for (const auto* value : {&headers.content_length(), &headers.etag(), &headers.last_modified(),
                              &headers.content_range()}) {
      if (*value && (*value)->size() > tarvo::ResponseHeaders::kMaxValue) std::abort();
    }
  }
  return 0;
}
