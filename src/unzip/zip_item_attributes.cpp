#include "unzip/zip_item_attributes.h"

#include "platform/types.h"

namespace tarvo {

std::uint32_t MapZipAttributes(std::uint16_t versionMadeBy, std::uint32_t externalAttributes) {
  switch (versionMadeBy >> 8) {
    case 0:   // MS-DOS and FAT
    case 7:   // Macintosh, as PC tools write it
    case 11:  // NTFS
    case 14:  // VFAT
      return externalAttributes &
             (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE);
    default: {
      constexpr std::uint32_t kDirectoryType = 0x40000000;  // S_IFDIR in the upper half
      constexpr std::uint32_t kOwnerWrite = 0x00800000;     // S_IWUSR in the upper half
      std::uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE;
      if (externalAttributes & kDirectoryType) attributes |= FILE_ATTRIBUTE_DIRECTORY;
      if ((externalAttributes & kOwnerWrite) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
      return attributes;
    }
  }
}

}  // namespace tarvo
