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
// rules (white space, sign, digits) into 64 bits, when a body of that length can be stored:
// nothing for an empty, zero, negative or non-numeric value, and nothing for one at or beyond
// the signed 64-bit limit, which the reading clamps and which would cut a larger archive short.
std::optional<std::uint64_t> UsableContentLength(std::u16string_view text);

// Fetches request.url through the guard's session (a fresh GET: 30 s connect time-out, one
// attempt, no cache) and stores its body at request.destination when exactly the announced
// Content-Length arrived and the body is a zip archive that the installer reads
// (ZipCheckArchive) and that, with request.publicKey, is signed with that key for the versions
// of the destination's name; with request.check.accept, when that accepts it instead (and a
// body announced longer than request.check.maxLength is not read). Bytes sent beyond
// the announced length are never read.
//
// The body streams into the destination's kept file (kept_bytes.h), held by this transfer alone;
// a file another launcher holds is left alone and nothing is fetched. It replaces the
// destination only once complete and checked; an existing destination stays as it was otherwise.
// A transfer starts only when the destination's volume keeps 256 MiB free after the body.
// A transfer that ends early keeps its bytes when the response named its version (a strong
// ETag, else Last-Modified): the next one asks for the rest with Range and If-Range and joins
// it only to a 206 whose Content-Range is exactly that rest; a 200 starts over at byte 0, a 416
// or any other 206 drops the kept bytes. A body refused once it arrived whole is not fetched
// again while its version stays the same. The guard hears of every byte received and decides,
// before anything is stored, whether the transfer still counts; with request.pacer the reads
// keep to its rate. Never throws.
FetchOutcome FetchArchive(const DownloadRequest& request, TransferGuard& guard);

// The same with a guard of its own that sets no limits; true when the archive was stored.
bool FetchArchive(const DownloadRequest& request);

}  // namespace tarvo
