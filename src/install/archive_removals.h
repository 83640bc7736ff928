#pragma once
// Applying the removal lists an archive carries (removal_list.h), once its items are in place.

#include <string>

#include "install/removal_list.h"
#include "unzip/zip_archive.h"

namespace tarvo {

class ArchiveRemovals {
 public:
  // When item `index` (described by `item`) is a removal list, reads it instead of extracting
  // it and returns true; a list that is not of the known form, or in a form the reader cannot
  // read, removes nothing, and of several lists the last one read counts. A list whose data is
  // damaged makes damaged() true. False for any other item.
  bool Take(ZipHandle archive, std::int32_t index, const ZipItem& item);

  // True once a list taken was damaged: its archive is not to count as installed.
  bool damaged() const { return m_damaged; }

  // Removes what the lists taken name under `programDirectory` (ending in "\"): the files in
  // the order listed, then the folders that are empty, innermost first. A name refused by the
  // list's rules, the running launcher, a read-only file, a folder where a file is named or a
  // file that is gone already is left alone. False when the machine keeps a file (in use, no
  // permission, an I/O error) or memory ran out reading a list: the archive is then to be
  // installed again. A folder that cannot be removed is left.
  bool Apply(const std::u16string& programDirectory) const;

 private:
  RemovalList m_list;
  bool m_machineFailed = false;
  bool m_damaged = false;
};

}  // namespace tarvo
