#pragma once
// Profile (INI) files read and written by key, as the Windows profile functions do it.
//
// Win32: the system's own functions. POSIX: our implementation with the same observable
// behaviour (section and key names match ignoring letter case and surrounding blanks; a value
// loses its surrounding blanks and one pair of matching quotes on reading; a file beginning with
// FF FE is UTF-16LE text, any other file 8-bit text, UTF-8 here). A write changes only what it
// must and replaces the file as a whole, so that a failure leaves the old file as it was.
//
// `path` should be absolute: given a bare file name, Windows looks in its own directory.
// `section` and `key` must not be null here: the system's forms that enumerate names or delete
// entries through null arguments are not offered by this layer.

#include "platform/types.h"

namespace tarvo {

// Copies the value of `key` in `section` of the file at `path` into `buffer` of `size` units,
// cut to `size` - 1 units and NUL-terminated, and returns its length without the NUL. When the
// file, the section or the key is missing, copies `defaultText` (null counts as empty, trailing
// blanks dropped) instead. Returns 0 and writes nothing when `size` is 0.
DWORD GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                               const char16_t* defaultText, char16_t* buffer, DWORD size,
                               const char16_t* path);

// Sets `key` in `section` of the file at `path` to `value`: replaces the key's value where it
// stands, or adds the key at the end of its section, or the section with the key at the end of
// the file; creates the file when it is missing. Returns FALSE when the file cannot be read or
// written, and then leaves it as it was.
BOOL WritePrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* value,
                                const char16_t* path);

}  // namespace tarvo
