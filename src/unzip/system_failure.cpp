#include "unzip/system_failure.h"

#include "platform/files.h"

namespace tarvo {

bool IsSystemFailure(DWORD error) {
  switch (error) {
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_ACCESS_DENIED:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_WRITE_PROTECT:
    case ERROR_NOT_READY:
    case ERROR_CRC:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_FILE_TOO_LARGE:
    case ERROR_IO_DEVICE:
    case ERROR_DISK_QUOTA_EXCEEDED:
      return true;
    default:
      return false;
  }
}

}  // namespace tarvo
