#pragma once
// The list of files and folders that an update archive removes from the installation. It
// travels as an item of the archive, so that the archive's signature covers it, and a launcher
// that does not know the list only extracts it as one small text file.
//
// Its form: the line kRemovalListHeader, then one name per line (line feeds, a carriage return
// before one is ignored), relative to the installation with "/" or "\" between components; a
// name ending in a separator is a folder, removed once it is empty. Names are UTF-8, or where
// they are not valid UTF-8 the system's OEM code page, as item names without the UTF-8 flag.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

// The item that carries the list, as a launcher that does not know it extracts it.
inline constexpr std::string_view kRemovalListItemName = "Sys/TarvoRemovals.txt";
inline constexpr std::string_view kRemovalListHeader = "TARVO-REMOVALS-1";
// A longer list is not read.
inline constexpr std::uint32_t kMaxRemovalListBytes = 16 * 1024 * 1024;

// True when an item of this (cleaned) name is the removal list.
bool IsRemovalListItem(std::u16string_view itemName);

// The name as the installation would hold it ("\" between components), or nothing when a
// removal of it is refused: names that do not decode, absolute names and names with a drive,
// names that cleaning would change or that could leave the installation ("..", device names),
// characters Windows does not allow in names, parts ending in a dot or a space (Windows drops
// them), parts like "UPDATE~1" (a short name Windows may give another file), and what an update
// never removes: the "UpdateZip" folder and all in it, and "Sys\Config.ini".
std::optional<std::u16string> RemovableName(std::string_view raw);

struct RemovalList {
  std::vector<std::u16string> files;    // in the order listed
  std::vector<std::u16string> folders;  // innermost first
  std::vector<std::string> refused;     // names as listed that RemovableName refuses
};

// Reads a list; nothing when its first line is not kRemovalListHeader.
std::optional<RemovalList> ParseRemovalList(std::string_view text);

// The list's text for `files` and `folders` (UTF-8, "/" between components, no separator at
// either end).
std::string FormatRemovalList(const std::vector<std::string>& files,
                              const std::vector<std::string>& folders);

// True when two paths name the same file on Windows: either separator, letters compared as
// NTFS compares the ones that matter here (ASCII letters in either case, and the dotless i and
// long s, which it takes for I and S).
bool SameWindowsPath(std::u16string_view a, std::u16string_view b);

}  // namespace tarvo
