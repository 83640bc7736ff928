#include "publish/archive_url.h"

#include <algorithm>

namespace tarvo::publish {

namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> DecodeSegment(std::string_view segment) {
  std::string decoded;
  for (std::size_t i = 0; i < segment.size(); ++i) {
    if (segment[i] != '%') {
      decoded.push_back(segment[i]);
      continue;
    }
    if (i + 2 >= segment.size()) return std::nullopt;
    const int high = HexValue(segment[i + 1]);
    const int low = HexValue(segment[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    const char c = static_cast<char>(high * 16 + low);
    if (c == '/' || c == '\0') return std::nullopt;
    decoded.push_back(c);
    i += 2;
  }
  return decoded;
}

}  // namespace

std::optional<std::string> BaseUrlProblem(std::string_view baseUrl) {
  std::size_t hostBegin = 0;
  if (StartsWithIgnoringCase(baseUrl, "http://")) {
    hostBegin = 7;
  } else if (StartsWithIgnoringCase(baseUrl, "https://")) {
    hostBegin = 8;
  } else {
    return "the base URL must begin with http:// or https://";
  }
  for (const char c : baseUrl) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      return "the base URL may hold printable ASCII only, without white space";
    }
    if (c == '<' || c == '>' || c == '"' || c == '\'' || c == '\\') {
      return std::string("the base URL must not contain ") + c;
    }
    if (c == '?' || c == '#') return "the base URL must not have a query or a fragment";
  }
  const std::size_t hostEnd = std::min(baseUrl.find('/', hostBegin), baseUrl.size());
  if (hostEnd == hostBegin) return "the base URL has no host";
  if (!UrlPathSegments(baseUrl)) {
    return "the base URL's path must not hold \".\" or \"..\" segments or broken % escapes";
  }
  return std::nullopt;
}

std::string JoinArchiveUrl(std::string_view baseUrl, std::string_view archiveName) {
  std::string url(baseUrl);
  if (url.empty() || url.back() != '/') url.push_back('/');
  url.append(archiveName);
  return url;
}

std::string ArchiveNameFromUrl(std::string_view url) {
  std::size_t cut = url.rfind('/');
  if (cut == std::string_view::npos) cut = url.rfind('\\');
  return std::string(cut == std::string_view::npos ? url : url.substr(cut + 1));
}

std::optional<std::vector<std::string>> UrlPathSegments(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos || scheme == 0) return std::nullopt;
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("?#"));
  const std::size_t pathBegin = rest.find('/');
  if (pathBegin == 0) return std::nullopt;
  std::vector<std::string> segments;
  if (pathBegin == std::string_view::npos) return segments;
  std::string_view path = rest.substr(pathBegin + 1);
  while (!path.empty()) {
    const std::size_t slash = std::min(path.find('/'), path.size());
    const std::string_view raw = path.substr(0, slash);
    path = path.substr(std::min(slash + 1, path.size()));
    if (raw.empty()) continue;
    auto segment = DecodeSegment(raw);
    if (!segment || *segment == "." || *segment == "..") return std::nullopt;
    segments.push_back(std::move(*segment));
  }
  return segments;
}

}  // namespace tarvo::publish
