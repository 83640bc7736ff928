#pragma once
// The parts of an HTTP response's header lines that CHttpFile::QueryInfo answers with,
// collected line by line as libcurl hands them over. Interim answers (1xx) and redirections
// that libcurl follows each bring a header block of their own; only the last one counts.

#include <optional>
#include <string>
#include <string_view>

namespace tarvo {

class ResponseHeaders {
 public:
  // Takes one header line as received, with or without its line break. A status line
  // ("HTTP/...") starts a new block; an empty line ends the current one.
  void AddLine(std::string_view line);

  // True once a block has ended that is the final answer: not interim (1xx), and not a
  // redirection with a Location that will be followed.
  bool complete() const { return complete_; }

  // The status code as sent ("200"); empty before any status line.
  const std::string& status() const { return status_; }
  // A header's value without surrounding white space (the first of repeated ones); nothing
  // when absent.
  const std::optional<std::string>& content_length() const { return content_length_; }
  const std::optional<std::string>& etag() const { return etag_; }
  const std::optional<std::string>& last_modified() const { return last_modified_; }
  const std::optional<std::string>& content_range() const { return content_range_; }

  // Longest texts kept; a hostile server's longer values are cut.
  static constexpr std::size_t kMaxStatus = 16;
  static constexpr std::size_t kMaxValue = 256;

 private:
  std::string status_;
  std::optional<std::string> content_length_;
  std::optional<std::string> etag_;
  std::optional<std::string> last_modified_;
  std::optional<std::string> content_range_;
  bool has_location_ = false;
  bool in_block_ = false;
  bool complete_ = false;
};

}  // namespace tarvo
