#include "publish/server_check/server_check.h"

#include <charconv>
#include <optional>
#include <set>

#include "publish/server_check/http_client.h"
#include "publish/site_check.h"

namespace tarvo::publish {

namespace {

// The most list text a launcher plans.
constexpr std::size_t kMaxPageBytes = std::size_t{64} << 20;
// If-Range values that name no version a server can have.
constexpr const char* kStaleEtag = "\"tarvo-publish-no-such-version\"";
constexpr const char* kStaleDate = "Thu, 01 Jan 1970 00:00:00 GMT";

std::optional<std::uint64_t> ContentLength(const HttpResponse& response) {
  const std::string text = response.Header("content-length");
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool Compressed(const HttpResponse& response) {
  const std::string encoding = response.Header("content-encoding");
  return !encoding.empty() && encoding != "identity";
}

// "answers 403", with what usually causes it.
std::string Answers(long status) {
  std::string text = "answers " + std::to_string(status);
  if (status == 403) {
    text +=
        " (the web server may not read the file or enter a folder on its way: its workers "
        "run as another user, such as www-data or nobody)";
  } else if (status == 404) {
    text += " (not found)";
  } else if (status >= 300 && status < 400) {
    text += " (a redirection, which launchers do not follow)";
  }
  return text;
}

// "with Cache-Control "..."", or "without Cache-Control".
std::string Caching(const HttpResponse& response) {
  const std::string value = response.Header("cache-control");
  return value.empty() ? "without Cache-Control" : "with Cache-Control \"" + value + "\"";
}

// Fetches, turning a failure into a problem.
std::optional<HttpResponse> Fetch(const std::string& url, const std::vector<std::string>& headers,
                                  std::size_t maxBody, const std::string& label,
                                  std::vector<std::string>& problems) {
  try {
    return HttpGet(url, headers, maxBody);
  } catch (const std::exception& failure) {
    problems.push_back(label + failure.what());
    return std::nullopt;
  }
}

// Resuming: the last byte asked for with the archive's validator comes alone, and asked for
// with a version the server does not have, the whole body comes instead. True when the server
// serves ranges.
bool CheckRanges(const std::string& url, const std::string& label, std::uint64_t length,
                 const std::string& validator, bool strong, std::vector<std::string>& problems,
                 std::vector<std::string>& warnings) {
  const std::string range = "Range: bytes=" + std::to_string(length - 1) + "-";
  const auto ranged = Fetch(url, {range, "If-Range: " + validator}, 16, label, problems);
  if (!ranged) return false;
  if (ranged->status == 200) {
    warnings.push_back(label + url +
                       " does not serve ranges: a download cut short starts over from "
                       "byte 0 at the next start");
    return false;
  }
  const std::string expected = "bytes " + std::to_string(length - 1) + "-" +
                               std::to_string(length - 1) + "/" + std::to_string(length);
  if (ranged->status != 206 || ranged->Header("content-range") != expected ||
      ContentLength(*ranged) != 1u) {
    problems.push_back(label + url + " answers \"" + range + "\" with " +
                       std::to_string(ranged->status) + " and Content-Range \"" +
                       ranged->Header("content-range") + "\", not \"" + expected +
                       "\": launchers drop what they kept and start over");
    return false;
  }
  const auto stale =
      Fetch(url, {range, std::string("If-Range: ") + (strong ? kStaleEtag : kStaleDate)}, 0, label,
            problems);
  if (stale && stale->status != 200) {
    problems.push_back(
        label + url + " answers a range whose If-Range names another version with " +
        std::to_string(stale->status) +
        " instead of the whole archive: a download cut short before the archive changed would "
        "join the bytes of two versions");
  }
  return true;
}

void CheckArchive(const std::string& url, const std::string& entryLabel,
                  std::vector<std::string>& problems, std::vector<std::string>& warnings) {
  const std::string label = entryLabel + ": ";
  const auto whole = Fetch(url, {}, 0, label, problems);
  if (!whole) return;
  if (whole->status != 200) {
    problems.push_back(label + url + " " + Answers(whole->status) +
                       ", so players never receive it");
    return;
  }
  const std::optional<std::uint64_t> length = ContentLength(*whole);
  if (!length || *length == 0) {
    problems.push_back(label + url +
                       " comes without a Content-Length, so launchers store nothing of it");
  }
  if (Compressed(*whole)) {
    problems.push_back(label + url +
                       " comes compressed (Content-Encoding: " + whole->Header("content-encoding") +
                       "), and launchers store only an archive's own bytes");
  } else if (const auto asked =
                 Fetch(url, {"Accept-Encoding: gzip, deflate, br"}, 0, label, problems);
             asked && Compressed(*asked)) {
    problems.push_back(label + url + " comes compressed to clients that ask for it " +
                       "(Content-Encoding: " + asked->Header("content-encoding") +
                       "): a CDN or proxy in front may pass that on; turn compression "
                       "off for archives");
  }
  const std::string etag = whole->Header("etag");
  const bool strong = !etag.empty() && !etag.starts_with("W/");
  const std::string validator = strong ? etag : whole->Header("last-modified");
  if (validator.empty()) {
    warnings.push_back(label + url +
                       " comes with neither a strong ETag nor Last-Modified: a download "
                       "cut short starts over from byte 0 at the next start");
  }
  if (whole->Header("cache-control").find("max-age") == std::string::npos) {
    warnings.push_back(label + url + " comes " + Caching(*whole) +
                       "; a CDN in front keeps archives with \"Cache-Control: public, "
                       "max-age=31536000, immutable\"");
  }
  if (!length || *length < 2 || validator.empty()) return;
  if (CheckRanges(url, label, *length, validator, strong, problems, warnings) &&
      whole->Header("accept-ranges") != "bytes") {
    warnings.push_back(label + url +
                       " serves ranges but does not say so (\"Accept-Ranges: bytes\"), which a "
                       "CDN in front may need to ask for them");
  }
}

}  // namespace

std::string VersionListUrl(const std::string& url) {
  if (url.ends_with(".html")) return url;
  return url + (url.ends_with("/") ? "" : "/") + std::string(kPageName);
}

ServerCheck CheckServer(const std::string& url) {
  ServerCheck check;
  check.pageUrl = VersionListUrl(url);
  const std::string label = check.pageUrl + ": ";
  const auto page = Fetch(check.pageUrl, {}, kMaxPageBytes + 1, "", check.problems);
  if (!page) return check;
  if (page->status != 200) {
    check.problems.push_back(label + Answers(page->status) +
                             ", so players' launchers plan no update");
    return check;
  }
  if (page->body.size() > kMaxPageBytes) {
    check.problems.push_back(label + "longer than 64 MiB, so players' launchers plan nothing");
    return check;
  }
  if (Compressed(*page)) {
    check.problems.push_back(
        label + "comes compressed (Content-Encoding: " + page->Header("content-encoding") +
        "), which players' launchers do not read as a version list");
    return check;
  }
  const std::string caching = page->Header("cache-control");
  if (caching.find("no-cache") == std::string::npos &&
      caching.find("no-store") == std::string::npos) {
    check.warnings.push_back(label + "comes " + Caching(*page) +
                             ": send \"Cache-Control: no-cache\", so that no cache on the way "
                             "answers players with an old list");
  }
  std::set<std::string> checked;
  check.problems =
      CheckVersionPage(page->body, check.pageUrl,
                       [&](const VersionEntry& entry, const std::string& entryLabel,
                           std::vector<std::string>& problems) {
                         const std::string archiveUrl(entry.Url());
                         if (checked.insert(archiveUrl).second) {
                           CheckArchive(archiveUrl, entryLabel, problems, check.warnings);
                         }
                       });
  return check;
}

}  // namespace tarvo::publish
