#pragma once
// Installing in the order of the version list across starts. A start may store a newer archive
// before an older one that the same list offered (a small step arrives before a large one), and
// the launcher ends once one archive is stored. Installed alone, the newer archive would record
// versions past the older one, whose files the installation then never receives. So each
// update check keeps the entries it planned in "UpdateZip\", and the installation pass holds an
// archive back while an entry of that record lies between the recorded versions and its own.

#include <optional>
#include <string>
#include <vector>

#include "install/archive_name.h"

namespace tarvo {

// The record's name in "UpdateZip\"; it matches none of "*.zip", "*.part" or the kept bytes.
inline constexpr char16_t kPlannedEntriesName[] = u"planned-updates.txt";

// The most entries a record holds; a list that plans more keeps no record.
inline constexpr std::size_t kMaxPlannedEntries = 65536;

// The entries that the last version list planned, sorted, each once.
using PlannedEntries = std::vector<ArchiveVersions>;

// The record in `folder` ("UpdateZip\" with its "\"). Nothing when there is none, or it is
// damaged or too long: then no archive waits, as before such records were kept.
std::optional<PlannedEntries> ReadPlannedEntries(const std::u16string& folder);

// Replaces the record in `folder` with `entries` (in any order; duplicates count once) as a
// whole: it is written beside its place and then moved there, so a reader finds the old record
// or the new one. No entries, or more than kMaxPlannedEntries, remove the record. False when it
// could not be written (or more were given); the old record may then be gone too, which only
// lets archives install as before.
bool WritePlannedEntries(const std::u16string& folder, PlannedEntries entries);

// True when the archive of `archive`'s versions has to wait: an entry of `planned` follows the
// recorded pair (`recordedFirst`, `recordedSecond`) and comes before `archive`, on the same
// line, so it is neither installed nor gone from the last list.
bool AwaitsPlannedEntry(const PlannedEntries& planned, std::int32_t recordedFirst,
                        std::int32_t recordedSecond, const ArchiveVersions& archive);

}  // namespace tarvo
