// minizip's file functions on POSIX: its stdio functions, opened from a UTF-16 path.

#include <cstdio>

#include "platform/posix/native_path.h"
#include "platform/zip_file_functions.h"

namespace tarvo {

namespace {

voidpf ZCALLBACK OpenArchiveFile(voidpf, const void* filename, int mode) noexcept {
  if (filename == nullptr ||
      (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) {
    return nullptr;
  }
  try {
    return std::fopen(NativePath(static_cast<const char16_t*>(filename)).c_str(), "rbe");
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

void FillZipFileFunctions(zlib_filefunc64_def* functions) {
  fill_fopen64_filefunc(functions);
  functions->zopen64_file = OpenArchiveFile;
}

}  // namespace tarvo
