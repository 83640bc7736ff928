#include "platform/posix/native_path.h"

#include <algorithm>

#include "common/utf.h"

namespace tarvo {

std::string NativePath(std::u16string_view path) {
  std::string native = Utf16ToUtf8(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

std::u16string CorePath(std::string_view nativePath) {
  std::u16string path = Utf8ToUtf16(nativePath);
  std::replace(path.begin(), path.end(), u'/', u'\\');
  return path;
}

}  // namespace tarvo
