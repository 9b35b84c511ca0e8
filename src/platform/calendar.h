// The proleptic Gregorian calendar as Windows time stamps know it: the rules
// both time-service files check calendar fields by, and the integer civil-date
// arithmetic that splits a stamp into calendar fields and joins them back.
// Both builds split stamps with it; tests check it against kernel32 under Wine.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace marlit {

constexpr int kFirstStampYear = 1601;
constexpr int kLastStampYear = 30827;

// The last time stamp: kernel32 splits no stamp of 2^63 or more.
constexpr uint64_t kLastStamp = uint64_t{INT64_MAX};

// 11644473600 s = 134774 days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDays1601To1970 = 134'774;
constexpr uint64_t kStamp1970 = uint64_t{kDays1601To1970} * kTicksPerDay;

constexpr bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days of a month 1..12; index 0 is a placeholder.
constexpr uint16_t kMonthDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

constexpr uint16_t MonthLength(int64_t year, int month) {
  return month == 2 && IsLeapYear(year) ? 29 : kMonthDays[month];
}

// Whether SystemTimeToFileTime takes these fields: a real date in the years
// a time stamp can hold, and a time of day within its ranges.
constexpr bool IsStampable(const SYSTEMTIME& t) {
  return t.wYear >= kFirstStampYear && t.wYear <= kLastStampYear && t.wMonth >= 1 &&
         t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= MonthLength(t.wYear, t.wMonth) &&
         t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59 && t.wMilliseconds <= 999;
}

// Days since 1970-01-01 of a proleptic Gregorian date: years counted from
// March so that the leap day ends the year; era = 400-year cycle,
// yoe = year of era, doy = day of year, doe = day of era.
constexpr int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146'097 + doe - 719'468;
}

struct CivilDay {
  int64_t y;
  int m, d;
};

// The inverse of DaysFromCivil.
constexpr CivilDay CivilFromDays(int64_t z) {
  z += 719'468;
  const int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const int64_t doe = z - era * 146'097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return CivilDay{yoe + era * 400 + (m <= 2), m, d};
}

static_assert(DaysFromCivil(1601, 1, 1) == -kDays1601To1970);
static_assert(CivilFromDays(-kDays1601To1970).y == 1601);

// Splits a stamp into calendar fields as FileTimeToSystemTime does; false,
// with the fields untouched, for a stamp after kLastStamp.
constexpr bool SplitStamp(uint64_t stamp, SYSTEMTIME& fields) {
  if (stamp > kLastStamp) return false;
  const int64_t days = static_cast<int64_t>(stamp / kTicksPerDay);
  const uint64_t inDay = stamp % kTicksPerDay;
  const CivilDay c = CivilFromDays(days - kDays1601To1970);
  const uint64_t seconds = inDay / kTicksPerSecond;
  fields.wYear = static_cast<uint16_t>(c.y);
  fields.wMonth = static_cast<uint16_t>(c.m);
  fields.wDayOfWeek = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
  fields.wDay = static_cast<uint16_t>(c.d);
  fields.wHour = static_cast<uint16_t>(seconds / 3600);
  fields.wMinute = static_cast<uint16_t>(seconds / 60 % 60);
  fields.wSecond = static_cast<uint16_t>(seconds % 60);
  fields.wMilliseconds = static_cast<uint16_t>(inDay % kTicksPerSecond / 10'000);
  return true;
}

// Joins calendar fields into a stamp as SystemTimeToFileTime does (wDayOfWeek
// ignored); false, with the stamp untouched, for fields it refuses.
constexpr bool JoinStamp(const SYSTEMTIME& f, uint64_t& stamp) {
  if (!IsStampable(f)) return false;
  const int64_t days = DaysFromCivil(f.wYear, f.wMonth, f.wDay) + kDays1601To1970;
  const uint64_t seconds = uint64_t{f.wHour} * 3600 + uint64_t{f.wMinute} * 60 + f.wSecond;
  stamp = static_cast<uint64_t>(days) * kTicksPerDay + seconds * kTicksPerSecond +
          uint64_t{f.wMilliseconds} * 10'000;
  return true;
}

}  // namespace marlit
