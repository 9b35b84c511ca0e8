// The proleptic Gregorian calendar as Windows time stamps know it: the rules
// both time-service files check calendar fields by.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace marlit {

constexpr int kFirstStampYear = 1601;
constexpr int kLastStampYear = 30827;

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

}  // namespace marlit
