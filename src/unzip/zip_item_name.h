#pragma once
// Item names and the paths built from them. "\" and "/" both separate components, on every
// host.

#include <string>
#include <string_view>

namespace tarvo {

inline bool IsZipPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// True for a path that starts with a separator, or whose second character is ":".
bool IsAbsoluteZipPath(std::u16string_view path);

// Decodes an item's raw name: as UTF-8 when `utf8Flag` (general-purpose bit 11) is set or the
// bytes are valid UTF-8, else from the system's OEM code page (OemCodePageToUtf16), as archives
// made by Windows tools in other languages (code page 936 on Chinese Windows) are written.
// False when the bytes are not valid in the encoding taken, hold a NUL, or need more than
// `maxUnits` UTF-16 code units: such a name is refused rather than cut or patched into another.
bool DecodeZipItemName(std::string_view raw, bool utf8Flag, std::size_t maxUnits,
                       std::u16string* name);

// Removes what would place an item outside the folder it is extracted to, as far as it stands
// at the front: a drive prefix ("C:"), a leading separator, and everything up to a "\..\"
// (or "/../", "\../", "/..\"), again until none is left. Then gives each file one spelling, as
// Windows would find it: "." and empty components go, and so do the dots and spaces that end
// a component (not one of dots alone, which IsExtractablePath refuses), so that
// "./Sys//Config.ini." is "Sys/Config.ini". What remains keeps its separators, and a separator
// at the end stays.
std::u16string CleanZipItemName(std::u16string name);

// False when a component of `path` goes up a level (two or more dots, with nothing else but
// dots and spaces, which Windows trims) or names a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
// CONIN$, CONOUT$, with any extension): such a path could lead out of the extraction root.
bool IsExtractablePath(std::u16string_view path);

}  // namespace tarvo
