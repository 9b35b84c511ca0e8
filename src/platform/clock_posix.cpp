// POSIX time services: stands in for kernel32's time conversions with integer
// civil-date arithmetic. This file is used on Linux only.
#include <ctime>

#include "platform/calendar.h"
#include "platform/clock.h"

namespace marlit {
namespace {

// 11644473600 s = 134774 days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDays1601To1970 = 134'774;
constexpr uint64_t kMaxStamp = uint64_t{INT64_MAX};
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

// The bias of the local zone in force now, in seconds east of UTC.
int64_t LocalBiasSeconds() {
  const time_t now = time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

bool PosixFileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  const uint64_t bias = static_cast<uint64_t>(LocalBiasSeconds()) * kTicksPerSecond;
  *local = FileTimeOf(StampOf(*utc) + bias);  // wraps modulo 2^64, as on Windows
  return true;
}

bool PosixFileTimeToSystemTime(const FILETIME* stamp, SYSTEMTIME* fields) {
  const uint64_t ticks = StampOf(*stamp);
  if (ticks > kMaxStamp) return false;
  const int64_t days = static_cast<int64_t>(ticks / kTicksPerDay);
  const uint64_t inDay = ticks % kTicksPerDay;
  const CivilDay c = CivilFromDays(days - kDays1601To1970);
  const uint64_t seconds = inDay / kTicksPerSecond;
  fields->wYear = static_cast<uint16_t>(c.y);
  fields->wMonth = static_cast<uint16_t>(c.m);
  fields->wDayOfWeek = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
  fields->wDay = static_cast<uint16_t>(c.d);
  fields->wHour = static_cast<uint16_t>(seconds / 3600);
  fields->wMinute = static_cast<uint16_t>(seconds / 60 % 60);
  fields->wSecond = static_cast<uint16_t>(seconds % 60);
  fields->wMilliseconds = static_cast<uint16_t>(inDay % kTicksPerSecond / 10'000);
  return true;
}

bool PosixSystemTimeToFileTime(const SYSTEMTIME* f, FILETIME* stamp) {
  if (!IsStampable(*f)) return false;
  const int64_t days = DaysFromCivil(f->wYear, f->wMonth, f->wDay) + kDays1601To1970;
  const uint64_t seconds = uint64_t{f->wHour} * 3600 + uint64_t{f->wMinute} * 60 + f->wSecond;
  *stamp = FileTimeOf(static_cast<uint64_t>(days) * kTicksPerDay + seconds * kTicksPerSecond +
                      uint64_t{f->wMilliseconds} * 10'000);
  return true;
}

void PosixGetLocalTime(SYSTEMTIME* now) {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm local {};
  if (localtime_r(&ts.tv_sec, &local) == nullptr) {
    *now = SYSTEMTIME{};
    return;
  }
  now->wYear = static_cast<uint16_t>(local.tm_year + 1900);
  now->wMonth = static_cast<uint16_t>(local.tm_mon + 1);
  now->wDayOfWeek = static_cast<uint16_t>(local.tm_wday);
  now->wDay = static_cast<uint16_t>(local.tm_mday);
  now->wHour = static_cast<uint16_t>(local.tm_hour);
  now->wMinute = static_cast<uint16_t>(local.tm_min);
  now->wSecond = static_cast<uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
  now->wMilliseconds = static_cast<uint16_t>(ts.tv_nsec / 1'000'000);
}

}  // namespace

const TimeServices kSystemTime = {PosixFileTimeToLocalFileTime, PosixFileTimeToSystemTime,
                                  PosixSystemTimeToFileTime, PosixGetLocalTime};

}  // namespace marlit
