#pragma once
// Names of archive items as players' Windows installations will hold them.

#include <optional>
#include <string>
#include <string_view>

namespace tarvo::publish {

// The launcher's own executable: an update that carries it changes every player's launcher.
inline constexpr std::string_view kLauncherName = "Tarvo.exe";

// Item names are read back into a 260-byte buffer with its terminating NUL.
inline constexpr std::size_t kMaxItemNameBytes = 259;

// Why an item of this name (UTF-8, relative, "/" between components, a directory item ending in
// "/") cannot be installed as it is on Windows, or nothing when it can: invalid UTF-8, too long,
// a character Windows forbids in names (including "\" and ":", which the launcher would take for
// a separator or a drive), a component ending in a dot or a space, or a device name (CON, NUL,
// COM1, ...).
std::optional<std::string> ItemNameProblem(std::string_view name);

// The name as Windows compares names: letter case ignored (ASCII letters).
std::string FoldName(std::string_view name);

}  // namespace tarvo::publish
