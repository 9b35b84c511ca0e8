// Time services: the Windows time records and the four conversions marlit
// needs, with the semantics of kernel32's FileTimeToLocalFileTime,
// FileTimeToSystemTime, SystemTimeToFileTime and GetLocalTime.
// clock_win.cpp calls kernel32; clock_posix.cpp does the same calendar
// arithmetic itself (calendar.h) and takes local time from the zone rules.
#pragma once

#include <cstdint>

namespace marlit {

// A time stamp: 100-nanosecond units since 1601-01-01 00:00:00, as two words.
struct FILETIME {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

// Calendar fields; wDayOfWeek counts from Sunday = 0.
struct SYSTEMTIME {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kTicksPerDay = 86'400 * kTicksPerSecond;

constexpr uint64_t StampOf(FILETIME ft) {
  return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}
constexpr FILETIME FileTimeOf(uint64_t stamp) {
  return FILETIME{static_cast<uint32_t>(stamp), static_cast<uint32_t>(stamp >> 32)};
}

// The services as the engine is handed them, so that tests can fix the zone
// bias and the clock. Each returns false where the Windows service fails.
struct TimeServices {
  // Shifts a UTC stamp into local time; the sum wraps in 64 bits as on
  // Windows. What local time means is the platform's own rule: on Windows
  // the zone's bias in force now (daylight saving included) for every stamp,
  // as the file manager shows its panels; on Linux the offset the zone rules
  // give for the stamp's own instant, as ls shows it.
  bool (*FileTimeToLocalFileTime)(const FILETIME* utc, FILETIME* local);
  // Splits a stamp into calendar fields; fails for a stamp of 2^63 or more.
  bool (*FileTimeToSystemTime)(const FILETIME* stamp, SYSTEMTIME* fields);
  // Joins calendar fields into a stamp, no zone conversion; fails for a date
  // that does not exist, a field out of range or a year outside 1601..30827.
  // wDayOfWeek is ignored.
  bool (*SystemTimeToFileTime)(const SYSTEMTIME* fields, FILETIME* stamp);
  // The local date and time now.
  void (*GetLocalTime)(SYSTEMTIME* now);
};

// The operating system's own time services.
extern const TimeServices kSystemTime;

}  // namespace marlit
