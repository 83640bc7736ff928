#pragma once
// Profile (INI) text read and edited the way the Windows profile functions do it, working on
// the file's bytes so that an edit changes nothing but the line it writes.
//
// A file that begins with FF FE is UTF-16LE text; any other file is 8-bit text, UTF-8 here (a
// leading UTF-8 byte-order mark is kept and not taken as part of the first line). Lines end at
// CR LF, LF or a lone CR. A line "[name]" (blanks allowed before it; the name runs to the last
// "]", and what follows that is ignored) starts a section; the lines before the first such line
// form the section "". Other non-blank lines are keys: the name before the first "=", the value
// after it; a line without
// "=" is a key without a value. Names match ignoring ASCII letter case and the blanks around
// them; of several sections or keys of one name, the first counts.

#include <optional>
#include <string>
#include <string_view>

namespace tarvo {

// The value of `key` in `section` of the profile file held in `bytes`: the text after the "=",
// cut at a NUL, without the blanks around it and without one pair of matching quotes (" or ')
// around it. Nothing when the section or the key is missing or the key has no "=".
std::optional<std::u16string> FindProfileValue(std::string_view bytes, std::u16string_view section,
                                               std::u16string_view key);

// The bytes of the profile file `bytes` with `key` in `section` set to `value`: the value is
// replaced where it stands (blanks after the "=" kept unless `value` begins with a blank of its
// own), a missing key is added as a line after
// the last non-blank line of its section, and a missing section is added with the key at the
// end of the file. New lines take the file's own line ending (CR LF when it has none) and its
// encoding; every other byte stays as it was.
//
// Nothing when the text could not be read back as written: a line break or NUL anywhere, "="
// in the key or a key that begins with "[", or (in an 8-bit file) text that UTF-8 cannot hold,
// such as an unpaired surrogate, or a key beginning with U+FEFF that would stand first in the
// file and so become its byte-order mark.
std::optional<std::string> SetProfileValue(std::string_view bytes, std::u16string_view section,
                                           std::u16string_view key, std::u16string_view value);

}  // namespace tarvo
