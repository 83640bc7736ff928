#include <cerrno>

#include "platform/files.h"
#include "platform/posix/last_error.h"

namespace tarvo {

namespace {

thread_local DWORD t_lastError = 0;

DWORD WindowsError(int errnoValue) {
  switch (errnoValue) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR:  // as Windows answers for a directory opened as a file
    case ELOOP:   // a link opened without following it
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ETXTBSY:
    case EBUSY:
      return ERROR_SHARING_VIOLATION;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case EDQUOT:
      return ERROR_DISK_QUOTA_EXCEEDED;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EFBIG:
      return ERROR_FILE_TOO_LARGE;
    case EIO:
      return ERROR_IO_DEVICE;
    case EWOULDBLOCK:
      return ERROR_LOCK_VIOLATION;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace

void SetLastErrorFromErrno(int errnoValue) { t_lastError = WindowsError(errnoValue); }

DWORD GetLastError() { return t_lastError; }

}  // namespace tarvo
