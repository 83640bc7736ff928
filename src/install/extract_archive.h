#pragma once
// Extraction of one pending archive over the installation.

#include <string>

namespace tarvo {

// Extracts every item of the archive at `archivePath`, in ascending index order, under the
// program directory (or `programDirectory`, ending in "\"), replacing files of the same names.
// The process's current directory is the program directory during the extraction and is
// restored afterwards. Reports nothing; an item that fails does not stop the others.
void ExtractArchiveToProgramDir(const std::u16string& archivePath);
void ExtractArchiveToProgramDir(const std::u16string& archivePath,
                                const std::u16string& programDirectory);

}  // namespace tarvo
