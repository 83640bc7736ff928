#include "install/pending_archives.h"

#include <functional>

#include "app/program_paths.h"
#include "config/config_version.h"
#include "install/archive_name.h"
#include "install/extract_archive.h"
#include "platform/files.h"

namespace tarvo {

namespace {

// Calls `visit` with the full path and the name of every file (not directory) that matches
// `pattern`, in the order the directory search returns them.
void ForEachFile(
    const std::u16string& pattern,
    const std::function<void(const std::u16string& path, const std::u16string& name)>& visit) {
  CFileFind find;
  if (!find.FindFile(pattern.c_str(), 0)) return;
  bool more = true;
  while (more) {
    more = find.FindNextFile();
    if (find.IsDots() || find.MatchesMask(FILE_ATTRIBUTE_DIRECTORY)) continue;
    visit(find.GetFilePath(), find.GetFileName());
  }
  find.Close();
}

std::u16string PendingFolder(const std::u16string& programDirectory) {
  return programDirectory + u"UpdateZip\\";
}

}  // namespace

void InstallPendingArchives() { InstallPendingArchives(GetProgramDirectory()); }

void InstallPendingArchives(const std::u16string& programDirectory) {
  const std::u16string configPath = programDirectory + u"Sys\\Config.ini";
  ForEachFile(PendingFolder(programDirectory) + u"*.zip",
              [&](const std::u16string& path, const std::u16string& name) {
                ExtractArchiveToProgramDir(path, programDirectory);
                const ArchiveVersions versions = VersionsFromFileTitle(FileTitleFromPath(name));
                WriteConfigVersion(configPath, versions.first, versions.second);
              });
}

void DeletePendingArchives() { DeletePendingArchives(GetProgramDirectory()); }

void DeletePendingArchives(const std::u16string& programDirectory) {
  const auto remove = [](const std::u16string& path, const std::u16string&) {
    DeleteFileW(path.c_str());
  };
  ForEachFile(PendingFolder(programDirectory) + u"*.zip", remove);
  // A download stopped part-way leaves its part file, whatever its name; no download of this
  // start runs yet.
  ForEachFile(PendingFolder(programDirectory) + u"*.part", remove);
}

}  // namespace tarvo
