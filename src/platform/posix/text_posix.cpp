#include "platform/text.h"

#include <iconv.h>

#include <memory>

#include "common/utf.h"

namespace tarvo {

// UTF-8 is the locale's encoding wherever the launcher runs on POSIX.
std::u16string ThreadAnsiToUtf16(std::string_view bytes) { return Utf8ToUtf16(bytes); }

std::size_t ThreadAnsiIncompleteTail(std::string_view bytes) { return Utf8IncompleteTail(bytes); }

std::optional<std::u16string> OemCodePageToUtf16(std::string_view bytes) {
  struct Closer {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
  };
  const iconv_t opened = iconv_open("UTF-8", "CP936");
  if (opened == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  const std::unique_ptr<void, Closer> cd(opened);
  std::string in(bytes);
  // A character of one byte stays one byte, one of two becomes at most three.
  std::string out(2 * bytes.size() + 4, '\0');
  char* inPointer = in.data();
  std::size_t inLeft = in.size();
  char* outPointer = out.data();
  std::size_t outLeft = out.size();
  if (iconv(opened, &inPointer, &inLeft, &outPointer, &outLeft) == static_cast<std::size_t>(-1) ||
      inLeft != 0) {
    return std::nullopt;  // an invalid or cut sequence
  }
  out.resize(out.size() - outLeft);
  return Utf8ToUtf16(out);
}

}  // namespace tarvo
