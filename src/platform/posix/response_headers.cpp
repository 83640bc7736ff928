#include "platform/posix/response_headers.h"

#include <algorithm>

namespace tarvo {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool NameIs(std::string_view name, std::string_view expected) {
  return name.size() == expected.size() &&
         std::equal(name.begin(), name.end(), expected.begin(), [](char a, char b) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(a) == lower(b);
         });
}

bool IsRedirection(std::string_view status) {
  return status == "301" || status == "302" || status == "303" || status == "307" ||
         status == "308";
}

}  // namespace

void ResponseHeaders::AddLine(std::string_view line) {
  if (line.substr(0, 5) == "HTTP/") {
    // "HTTP/1.1 200 OK": the code is the second word.
    std::string_view code = line.substr(5);
    const std::size_t space = code.find_first_of(" \t");
    code = space == std::string_view::npos ? std::string_view() : Trim(code.substr(space));
    code = code.substr(0, code.find_first_of(" \t"));
    status_.assign(code.substr(0, kMaxStatus));
    content_length_.reset();
    etag_.reset();
    last_modified_.reset();
    content_range_.reset();
    has_location_ = false;
    in_block_ = true;
    complete_ = false;
    return;
  }
  if (!in_block_) return;
  const std::string_view content = Trim(line);
  if (content.empty()) {
    in_block_ = false;
    const bool interim = !status_.empty() && status_[0] == '1';
    complete_ = !interim && !(IsRedirection(status_) && has_location_);
    return;
  }
  const std::size_t colon = content.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view name = Trim(content.substr(0, colon));
  const std::string_view value = Trim(content.substr(colon + 1));
  for (auto [wanted, field] :
       {std::pair{"content-length", &content_length_}, std::pair{"etag", &etag_},
        std::pair{"last-modified", &last_modified_}, std::pair{"content-range", &content_range_}}) {
    if (NameIs(name, wanted)) {
      // A value cut to the kept length is no value at all: it would be taken for another.
      if (!*field) *field = value.size() <= kMaxValue ? std::string(value) : std::string();
      return;
    }
  }
  if (NameIs(name, "location") && !value.empty()) {
    has_location_ = true;
  }
}

}  // namespace tarvo
