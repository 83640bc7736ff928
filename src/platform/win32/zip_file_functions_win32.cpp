// minizip's file functions on Win32: its own, opening UTF-16 paths with read sharing.

#include "platform/zip_file_functions.h"
#include "platform/win32/win32_sys.h"

#include <minizip/iowin32.h>

namespace tarvo {

// iowin32's open function takes a wide path and, for reading, asks for GENERIC_READ,
// OPEN_EXISTING and FILE_SHARE_READ; char16_t and wchar_t share their form on Windows.
void FillZipFileFunctions(zlib_filefunc64_def* functions) { fill_win32_filefunc64W(functions); }

}  // namespace tarvo
