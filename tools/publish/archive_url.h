#pragma once
// Archive URLs as the version list carries them: the web server finds the archive by the URL's
// path, and an archive folder holds it under the URL's last segment.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::publish {

// Why `baseUrl` cannot carry archives in the version list, or nothing when it can. A base URL
// is "http://" or "https://", a host, and an optional path: printable ASCII without white
// space, quotes, angle brackets, backslashes, a query, a fragment or "." / ".." segments.
std::optional<std::string> BaseUrlProblem(std::string_view baseUrl);

// `baseUrl` followed by "/" (unless it ends in one) and `archiveName`.
std::string JoinArchiveUrl(std::string_view baseUrl, std::string_view archiveName);

// The archive's file name in an archive folder: the text after the URL's last "/", else after
// its last "\", else the whole URL.
std::string ArchiveNameFromUrl(std::string_view url);

// The segments of the URL's path, percent escapes decoded, without empty segments; the query
// and fragment are dropped. Nothing when the URL has no "scheme://host", when a segment is "."
// or "..", or when an escape is malformed or decodes to a "/" or a NUL.
std::optional<std::vector<std::string>> UrlPathSegments(std::string_view url);

}  // namespace tarvo::publish
