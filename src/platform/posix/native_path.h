#pragma once
// Conversions between the core's paths (UTF-16, "\" or "/" as separators) and POSIX paths
// (UTF-8 bytes, "/" only).

#include <string>
#include <string_view>

namespace tarvo {

// The POSIX form of a core path: UTF-8, every "\" turned into "/".
std::string NativePath(std::u16string_view path);

// The core's form of a POSIX path: UTF-16, every "/" turned into "\".
std::u16string CorePath(std::string_view nativePath);

}  // namespace tarvo
