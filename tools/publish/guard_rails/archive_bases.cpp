#include "publish/guard_rails/archive_bases.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "publish/file_bytes.h"

namespace tarvo::publish {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kRecordHead = "TARVO-BASES-1";

std::optional<VersionKey> ParseDigits(const std::string& text) {
  if (text.size() != kVersionDigits ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return ReadVersionKey(text);
}

}  // namespace

ArchiveBases ReadArchiveBases(const fs::path& site) {
  ArchiveBases bases;
  const fs::path path = site / kArchiveBasesName;
  if (!fs::is_regular_file(path)) return bases;
  std::istringstream text(ReadFileBytes(path));
  std::string line;
  if (!std::getline(text, line) || line != kRecordHead) return bases;
  while (std::getline(text, line)) {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    const auto versions = ParseDigits(line.substr(0, space));
    const auto base = ParseDigits(line.substr(space + 1));
    if (versions && base) bases[*versions] = *base;
  }
  return bases;
}

void WriteArchiveBases(const fs::path& site, const ArchiveBases& bases) {
  std::string text = std::string(kRecordHead) + "\n";
  for (const auto& [versions, base] : bases) {
    text += FormatVersionDigits(versions) + " " + FormatVersionDigits(base) + "\n";
  }
  const fs::path path = site / kArchiveBasesName;
  fs::path staged = path;
  staged += ".partial";
  WriteFileBytes(staged, text);
  std::error_code error;
  fs::rename(staged, path, error);
  if (error) {
    fs::remove(staged, error);
    throw std::runtime_error("cannot write " + path.string());
  }
}

ArchiveKind KindOfArchive(VersionKey versions, VersionKey base,
                          const std::vector<VersionKey>& listed) {
  bool between = false;
  bool before = false;
  for (const VersionKey& entry : listed) {
    if (entry.first != versions.first) continue;
    between = between || (base < entry && entry < versions);
    before = before || entry <= base;
  }
  return between ? ArchiveKind::kCumulative : before ? ArchiveKind::kStep : ArchiveKind::kFirst;
}

std::optional<std::string> ArchiveKindWarning(VersionKey versions, VersionKey base,
                                              const std::vector<VersionKey>& listed,
                                              const ArchiveBases& bases) {
  const ArchiveKind kind = KindOfArchive(versions, base, listed);
  if (kind == ArchiveKind::kFirst) return std::nullopt;
  // The way the last archive before it whose base is known was made.
  std::vector<VersionKey> earlier;
  for (const VersionKey& entry : listed) {
    if (entry.first == versions.first && entry < versions) earlier.push_back(entry);
  }
  std::sort(earlier.rbegin(), earlier.rend());
  for (const VersionKey& entry : earlier) {
    const auto known = bases.find(entry);
    if (known == bases.end()) continue;
    const ArchiveKind before = KindOfArchive(entry, known->second, listed);
    if (before == ArchiveKind::kFirst) continue;
    if (before == kind) return std::nullopt;
    const std::string earlierOne = FormatVersionDigits(entry);
    if (kind == ArchiveKind::kStep) {
      return "this update is a step from " + VersionsText(base) + " (the previous tree), but " +
             earlierOne + " before it holds every change since " + VersionsText(known->second) +
             ": a player who receives this one without the updates between misses their files. "
             "To publish it cumulatively as those, compare the tree of " +
             VersionsText(known->second) + " with the new one";
    }
    return "this update holds every change since " + VersionsText(base) +
           " (the previous tree), but " + earlierOne + " before it is a step from " +
           VersionsText(known->second) +
           ": if the previous tree is not the one you meant, compare the tree of the last "
           "update with the new one";
  }
  return std::nullopt;
}

}  // namespace tarvo::publish
