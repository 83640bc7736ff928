#include "install/archive_removals.h"

#include "platform/files.h"
#include "unzip/system_failure.h"

namespace tarvo {

namespace {

// Whether the file at `path` is gone or may stay; false when the machine keeps it.
bool RemoveFile(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return !IsSystemFailure(GetLastError());
  // An update never replaces a read-only file either: the player chose to keep it.
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return true;
  return DeleteFileW(path.c_str()) || !IsSystemFailure(GetLastError());
}

}  // namespace

bool ArchiveRemovals::Take(ZipHandle archive, std::int32_t index, const ZipItem& item) {
  if (!IsRemovalListItem(item.name)) return false;
  std::string text;
  const ZipResult read = ZipReadItem(archive, index, kMaxRemovalListBytes, &text);
  if (read == ZIP_ERR_SYSTEM) m_machineFailed = true;
  if (IsZipDamage(read)) m_damaged = true;
  if (read != ZIP_OK) return true;
  // An archive carries one list; of several, the last that reads counts, as the last item of a
  // name is the one that stays.
  if (std::optional<RemovalList> list = ParseRemovalList(text)) m_list = std::move(*list);
  return true;
}

bool ArchiveRemovals::Apply(const std::u16string& programDirectory) const {
  if (m_machineFailed) return false;
  // The system finds a name relative to the current directory sooner than a whole path; while
  // an archive is extracted, the installation is the current directory.
  std::u16string current(kZipNameSize, u'\0');
  current.resize(GetCurrentDirectoryW(kZipNameSize, current.data()));
  const bool relative = current.size() < kZipNameSize && !current.empty() &&
                        (SameWindowsPath(current, programDirectory) ||
                         SameWindowsPath(current + u"\\", programDirectory));
  const std::u16string base = relative ? u"" : programDirectory;
  const std::u16string launcher = GetModulePath();
  for (const std::u16string& file : m_list.files) {
    if (launcher.size() == programDirectory.size() + file.size() &&
        SameWindowsPath(launcher, programDirectory + file)) {
      continue;
    }
    if (!RemoveFile(base + file)) return false;
  }
  // Only an empty folder goes; one that stays costs nothing, so it never holds the update back.
  for (const std::u16string& folder : m_list.folders) RemoveDirectoryW((base + folder).c_str());
  return true;
}

}  // namespace tarvo
