#pragma once
// One transfer of an update archive from its server to its destination file.

#include <cstdint>
#include <optional>
#include <string_view>

#include "net/download.h"

namespace tarvo {

// The body length that a Content-Length value announces, read as decimal text by the shared
// rules (white space, sign, digits), when a body of that length can be stored: nothing for an
// empty, zero, negative or non-numeric value, and nothing for one at or beyond the signed
// 32-bit limit, which the reading clamps and which would cut a larger archive short.
std::optional<std::uint32_t> UsableContentLength(std::u16string_view text);

// Fetches request.url (a fresh GET: 30 s connect time-out, one attempt, no cache) and stores
// its body at request.destination when the status is exactly "200" and exactly the announced
// Content-Length arrived; bytes sent beyond that length are never read. The body streams into
// request.destination + ".part", which replaces the destination only once complete. On every
// failure the ".part" file is deleted and an existing destination stays as it was. Returns
// whether the archive was stored. Never throws.
bool FetchArchive(const DownloadRequest& request);

}  // namespace tarvo
