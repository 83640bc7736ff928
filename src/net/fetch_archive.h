#pragma once
// One transfer of an update archive from its server to its destination file.

#include <cstdint>
#include <optional>
#include <string_view>

#include "net/download.h"
#include "net/transfer_guard.h"

namespace tarvo {

// What became of one transfer.
enum class FetchOutcome {
  kStored,   // the archive is at its destination
  kFailed,   // nothing was stored; the destination is as it was
  kGivenUp,  // its guard gave it up first: nothing was stored, and its watcher reported its end
};

// The body length that a Content-Length value announces, read as decimal text by the shared
// rules (white space, sign, digits), when a body of that length can be stored: nothing for an
// empty, zero, negative or non-numeric value, and nothing for one at or beyond the signed
// 32-bit limit, which the reading clamps and which would cut a larger archive short.
std::optional<std::uint32_t> UsableContentLength(std::u16string_view text);

// Fetches request.url through the guard's session (a fresh GET: 30 s connect time-out, one
// attempt, no cache) and stores its body at request.destination when the status is exactly
// "200", exactly the announced Content-Length arrived, and the body is a zip archive that the
// installer reads (ZipCheckArchive) and that, with request.publicKey, is signed with that key
// for the versions of the destination's name. Bytes sent
// beyond the announced length are never read. The body streams into a part file of its own beside
// the destination, "<destination>.<8 hex digits>.part", made new, which replaces the destination
// only once complete and checked; on every failure it is deleted and an existing destination
// stays as it was. The guard hears of every byte received and decides, before anything is
// stored, whether the transfer still counts; with request.pacer the reads keep to its rate.
// Never throws.
FetchOutcome FetchArchive(const DownloadRequest& request, TransferGuard& guard);

// The same with a guard of its own that sets no limits; true when the archive was stored.
bool FetchArchive(const DownloadRequest& request);

}  // namespace tarvo
