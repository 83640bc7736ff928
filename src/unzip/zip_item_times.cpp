#include "unzip/zip_item_times.h"

#include <algorithm>

#include "platform/output_file.h"
#include "unzip/zip_fields.h"

namespace tarvo {

namespace {

constexpr std::uint64_t kIntervalsPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr std::uint16_t kExtendedTimestampId = 0x5455;  // "UT"

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t DaysSince1601(int year, int month, int day) {
  const int y = month <= 2 ? year - 1 : year;
  const int era = y / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t daysSince1970 = std::int64_t{era} * 146097 + dayOfEra - 719468;
  return daysSince1970 + kSecondsFrom1601To1970 / 86400;
}

}  // namespace

bool DosDateTimeToLocalFileTime(std::uint32_t dosDateTime, std::uint64_t* local) {
  const std::uint32_t date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
  const int year = 1980 + static_cast<int>(date >> 9);
  const int month = static_cast<int>((date >> 5) & 15);
  const int day = static_cast<int>(date & 31);
  const int hour = static_cast<int>(time >> 11);
  const int minute = static_cast<int>((time >> 5) & 63);
  const int second = 2 * static_cast<int>(time & 31);
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return false;
  }
  const std::int64_t seconds =
      DaysSince1601(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  *local = static_cast<std::uint64_t>(seconds) * kIntervalsPerSecond;
  return true;
}

void ApplyExtendedTimestamp(const std::uint8_t* field, std::size_t length, ZipItemTimes* times) {
  const auto block = FindZipExtraBlock(field, length, kExtendedTimestampId);
  if (!block || block->empty()) return;
  const std::uint8_t flags = (*block)[0];
  std::size_t at = 1;
  // The values follow in the order of their flag bits.
  std::uint64_t* const targets[3] = {&times->modification, &times->access, &times->creation};
  for (int bit = 0; bit < 3; ++bit) {
    if ((flags & (1u << bit)) == 0) continue;
    if (at + 4 > block->size()) return;
    const auto seconds = static_cast<std::int32_t>(ZipLittleEndian(block->data() + at, 4));
    *targets[bit] =
        static_cast<std::uint64_t>(seconds + kSecondsFrom1601To1970) * kIntervalsPerSecond;
    at += 4;
  }
}

ZipItemTimes ZipItemTimesFrom(std::uint32_t dosDateTime, const std::uint8_t* localExtra,
                              std::size_t length) {
  ZipItemTimes times;
  std::uint64_t local = 0, utc = 0;
  if (DosDateTimeToLocalFileTime(dosDateTime, &local) && LocalFileTimeToFileTime(local, &utc)) {
    times.access = times.creation = times.modification = utc;
  }
  ApplyExtendedTimestamp(localExtra, length, &times);
  return times;
}

}  // namespace tarvo
