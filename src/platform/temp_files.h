#pragma once
// Names of temporary files.

#include "platform/types.h"

namespace tarvo {

// The length, with its terminating NUL, of the buffers that the functions below fill.
inline constexpr DWORD MAX_PATH = 260;

// Writes the folder for temporary files, ending in a backslash, into `buffer` (at most `size`
// units with the NUL) and returns its length without the NUL; when it does not fit, returns
// the size needed and leaves the buffer as it was. 0 on failure.
// POSIX: $TMPDIR when it is set, else /tmp.
DWORD GetTempPathW(DWORD size, char16_t* buffer);

// Makes the name `path` + "\" (when `path` does not end in one) + the first three characters
// of `prefix` + `unique` as four hexadecimal digits + ".tmp" and writes it into `tempFileName`,
// which has room for MAX_PATH units. With `unique` 0 the number is chosen so that no file of
// that name exists, and the file is created, empty. Returns the number used; 0 when the name
// does not fit or no file could be created.
UINT GetTempFileNameW(const char16_t* path, const char16_t* prefix, UINT unique,
                      char16_t* tempFileName);

}  // namespace tarvo
