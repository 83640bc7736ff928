#pragma once
// What the deletion pass does with the kept bytes of earlier transfers (net/kept_bytes.h).

#include <string>

namespace tarvo {

// In "UpdateZip\" of `programDirectory` (ending in "\"): deletes the kept bytes whose versions
// are no longer newer than the recorded pair, or that were not written for 14 days; records
// whose bytes are gone; and anything but a file that stands where kept bytes or their record
// belong (a link is removed, never followed; a folder with all in it). Then, while the volume
// keeps less than the disk reserve free, deletes kept bytes, largest first: they could not be
// continued anyway. Kept bytes that another running launcher holds stay whatever they are.
void DeleteStaleKeptBytes(const std::u16string& programDirectory);

}  // namespace tarvo
