#pragma once
// The file functions that minizip reads an archive through.

#include <minizip/ioapi.h>

namespace tarvo {

// Fills `functions` so that minizip's open function takes the archive's path as a
// `const char16_t*` (the core's form: "\" or "/" separate) and opens an existing file for
// reading only; other processes may read it meanwhile but not write it (Win32; POSIX has no
// such sharing rule). The functions ignore `opaque`, and every read is preceded by a seek.
void FillZipFileFunctions(zlib_filefunc64_def* functions);

}  // namespace tarvo
