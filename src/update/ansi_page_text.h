#pragma once
// Widening the bytes of the version list page, one read at a time.

#include <string>
#include <string_view>

namespace tarvo {

// The page's text, built from its reads: each read's bytes are converted from the thread's
// ANSI code page (ThreadAnsiToUtf16), and a character whose bytes straddle two reads is held
// back and converted whole, so the page reads as if it had come in one read. A read is taken
// as zero-terminated text: its bytes end at its first zero byte, if any, and the rest of that
// read is dropped.
class AnsiPageText {
 public:
  // Adds one read's bytes. Throws std::bad_alloc.
  void Append(std::string_view read);
  // The text so far, with whatever a last cut character held back converted as it stands.
  std::u16string Take();

 private:
  std::u16string m_text;
  std::string m_held;  // the start of a character cut at the end of the last read
};

}  // namespace tarvo
