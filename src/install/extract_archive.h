#pragma once
// Extraction of one pending archive over the installation.

#include <string>

namespace tarvo {

// How the installation of one archive went.
enum class ArchiveInstall {
  // Every item is installed, or was refused for what the archive itself holds (a hostile name,
  // a method or data that cannot be read, a read-only target, no archive at all): trying again
  // would give the same, so the archive counts as installed.
  kDone,
  // The machine kept it out (no space, a file in use, no permission, a path too long for the
  // system, an I/O error): what was installed before the failure stays, and the archive is to
  // be installed again at another start.
  kMachineFailed,
};

// Extracts the items of the archive at `archivePath`, in ascending index order, under
// `programDirectory` (ending in "\"), replacing files of the same names, and stops at the first
// item the machine keeps out. The process's current directory is the program directory during
// the extraction and is restored afterwards; an archive is never extracted elsewhere.
ArchiveInstall ExtractArchiveToProgramDir(const std::u16string& archivePath,
                                          const std::u16string& programDirectory);

}  // namespace tarvo
