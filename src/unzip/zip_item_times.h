#pragma once
// The times of an item: its DOS date and time, taken as local time, and the extended
// timestamp ("UT") block of its local extra field, which overrides them where present.
// Times count 100-nanosecond intervals since 1601-01-01 (UTC unless said otherwise).

#include <cstddef>
#include <cstdint>

namespace tarvo {

struct ZipItemTimes {
  std::uint64_t access = 0;
  std::uint64_t creation = 0;
  std::uint64_t modification = 0;
};

// The calendar time packed in a DOS date (high 16 bits) and time (low 16 bits), as a count
// in local time. False when it is not a valid calendar time (month or day 0, hour 24...).
bool DosDateTimeToLocalFileTime(std::uint32_t dosDateTime, std::uint64_t* local);

// Replaces the times that an extended timestamp block in `field` (a local extra field of
// `length` bytes) carries. Only bytes inside both the field and the block are read; a value
// cut short by either is not used.
void ApplyExtendedTimestamp(const std::uint8_t* field, std::size_t length, ZipItemTimes* times);

// The item's three times: the DOS date and time converted from local time with the offset in
// force now, then the extended timestamp block of `localExtra`. A DOS date and time that is
// not a valid calendar time leaves the times it would give at 0 (unknown).
ZipItemTimes ZipItemTimesFrom(std::uint32_t dosDateTime, const std::uint8_t* localExtra,
                              std::size_t length);

}  // namespace tarvo
