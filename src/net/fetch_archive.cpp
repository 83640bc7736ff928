#include "net/fetch_archive.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "common/decimal.h"
#include "net/disk_budget.h"
#include "net/download_pacer.h"
#include "net/kept_bytes.h"
#include "net/transfer_activity.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "unzip/zip_archive.h"

namespace tarvo {

namespace {

constexpr DWORD kConnectTimeoutMs = 30000;
constexpr DWORD kConnectBackoffMs = 1000;
constexpr DWORD kConnectRetries = 1;
// Always from the server, never into the platform's cache.
constexpr DWORD kOpenFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_BINARY;
static_assert(kOpenFlags == 0x84000002);
constexpr DWORD kContext = 1;
constexpr UINT kReadPiece = 8192;

// True when a body of `length` bytes could never be what a download other than an archive is
// to store: it is not read at all.
bool IsTooLong(const DownloadRequest& request, std::uint64_t length) {
  return request.check.accept && length > request.check.maxLength;
}

std::optional<Validator> ResponseValidator(CHttpFile& file) {
  std::u16string etag;
  std::u16string lastModified;
  file.QueryInfo(HTTP_QUERY_ETAG, etag);
  file.QueryInfo(HTTP_QUERY_LAST_MODIFIED, lastModified);
  return ChooseValidator(etag, lastModified);
}

// Fetches the body into `part`, after what it kept; true when it arrived whole and is a zip
// archive.
bool ReceiveArchive(const DownloadRequest& request, TransferGuard& guard,
                    std::unique_ptr<PartialArchive>& part) {
  // Held until the transfer ends: another launcher neither fetches nor touches this one.
  part = std::make_unique<PartialArchive>(request.destination, request.publicKey,
                                          request.check.accept);
  std::optional<KeptRecord> kept = part->record();
  std::u16string headers;
  if (kept && kept->refused) {
    headers = ChangedHeaders(kept->validator);
  } else if (kept) {
    // Read back before the request, so that the server never waits for it. Kept bytes found
    // damaged are gone, and the body comes whole.
    if (part->Resume(guard)) {
      headers = ResumeHeaders(part->kept(), kept->validator);
    } else {
      kept.reset();
    }
  }
  const std::shared_ptr<DiskBudget> budget =
      request.budget ? request.budget : std::make_shared<DiskBudget>();
  std::unique_ptr<DiskBudget::Claim> claim;

  CInternetSession& session = guard.session();
  session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
  session.SetOption(INTERNET_OPTION_CONNECT_BACKOFF, kConnectBackoffMs);
  session.SetOption(INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries);
  // A limit holds on the line, not only for the reads.
  if (request.pacer) session.SetOption(kOptionReceiveBuffer, request.pacer->ReceiveBuffer());
  const std::unique_ptr<CHttpFile> file = session.OpenURL(
      request.url.c_str(), kContext, kOpenFlags, headers.empty() ? nullptr : headers.c_str());
  if (!file) return false;

  std::u16string status;
  file->QueryInfo(HTTP_QUERY_STATUS_CODE, status);
  // A body without a usable length could never be stored, so it is not read at all: a server
  // could otherwise keep the worker, and the launcher with it, busy for as long as it liked.
  std::u16string lengthText;
  file->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, lengthText);
  const std::optional<std::uint64_t> length = UsableContentLength(lengthText);
  const std::optional<Validator> validator = ResponseValidator(*file);

  std::uint64_t remaining = 0;
  if (status == u"206" && kept && !kept->refused) {
    // Only the rest of the very bytes kept can be joined to them.
    const std::uint64_t from = part->kept();
    std::u16string range;
    file->QueryInfo(HTTP_QUERY_CONTENT_RANGE, range);
    const bool otherVersion =
        validator && validator->etag == kept->validator.etag && *validator != kept->validator;
    if (!ContentRangeIs(range, from, kept->length) || !length || *length != kept->length - from ||
        otherVersion) {
      part->Drop();
      return false;
    }
    claim = budget->Take(request.destination, *length);
    if (!claim) return false;
    remaining = *length;
  } else if (status == u"200") {
    // Refused once already, and still the same: not fetched again.
    if (kept && kept->refused && validator == kept->validator) return false;
    // The file changed, or the server does not serve ranges: the body starts over at byte 0.
    part->StartOver(std::nullopt);
    if (length && !IsTooLong(request, *length)) claim = budget->Take(request.destination, *length);
    if (!claim) return false;
    if (validator) part->StartOver(KeptRecord{*validator, *length, false});
    remaining = *length;
  } else {
    // 416: what is kept does not fit the file any more. 304 keeps a refusal; anything else
    // ("407" too, as no proxy credentials are ever sent) keeps what is kept for another start.
    if (status == u"416") part->Drop();
    return false;
  }

  while (remaining > 0 && !part->Damaged()) {
    const UINT wanted =
        PaceRead(request.pacer, guard,
                 static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, kReadPiece)));
    if (wanted == 0) break;
    UINT got = 0;
    try {
      got = part->ReadFrom(*file, wanted);
    } catch (...) {
      // What the pacer let through and the line did not bring is the pacer's again.
      ReturnUnread(request.pacer, wanted);
      throw;
    }
    ReturnUnread(request.pacer, wanted - std::min(got, wanted));
    if (got == 0 || got > wanted) break;
    guard.Received(got);
    if (request.activity) request.activity->Received();
    claim->Wrote(got);
    remaining -= got;
  }
  file->Close();
  // An archive that cannot be whole is not fetched to its end.
  if (remaining != 0 && !part->Damaged()) return false;
  if (remaining == 0 && part->Complete()) return true;
  part->Refuse();
  return false;
}

}  // namespace

std::optional<std::uint64_t> UsableContentLength(std::u16string_view text) {
  const std::int64_t length = ParseDecimal64(text);
  if (length <= 0 || length == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
  return static_cast<std::uint64_t>(length);
}

FetchOutcome FetchArchive(const DownloadRequest& request, TransferGuard& guard) {
  std::unique_ptr<PartialArchive> part;
  bool complete = false;
  try {
    complete = ReceiveArchive(request, guard, part);
  } catch (...) {
    // A failed transfer, a failed write, exhausted memory, or the kept bytes held by another
    // launcher: nothing is stored.
  }
  // A transfer given up meanwhile leaves the destination alone, complete or not.
  if (!guard.Finish()) return FetchOutcome::kGivenUp;
  try {
    if (complete && part->Commit()) return FetchOutcome::kStored;
  } catch (...) {
    // Closing the part file failed: its data may not all be on disk.
  }
  return FetchOutcome::kFailed;
}

bool FetchArchive(const DownloadRequest& request) {
  try {
    const auto guard = TransferGuard::Make(TransferLimits{}, nullptr, kContext);
    return FetchArchive(request, *guard) == FetchOutcome::kStored;
  } catch (...) {
    return false;
  }
}

}  // namespace tarvo
