#pragma once
// The file attributes of an item.

#include <cstdint>

namespace tarvo {

// Maps an item's external attributes to FILE_ATTRIBUTE_ bits by the host in the high byte of
// `versionMadeBy`: MS-DOS hosts (0, 7, 11, 14) keep DOS attribute bits in the low byte; every
// other host keeps a Unix mode in the upper 16 bits (no owner write: read-only; a directory
// type: directory; archive always). Only read-only, hidden, system, directory and archive can
// result.
std::uint32_t MapZipAttributes(std::uint16_t versionMadeBy, std::uint32_t externalAttributes);

}  // namespace tarvo
