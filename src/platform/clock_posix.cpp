// POSIX time services: stands in for kernel32's time conversions with integer
// civil-date arithmetic and the C library's zone rules. This file is used on
// Linux only.
#include <ctime>

#include "platform/calendar.h"
#include "platform/clock.h"

namespace marlit {
namespace {

// The zone's offset for the very instant of the stamp, as localtime_r gives
// it (what ls and find show): the zone rules in force at that moment, not
// the offset in force now. TZ unset means /etc/localtime, as for every
// program. Whole seconds carry the offset, so a stamp counts by the second it
// lies in (rounded down, also before 1970).
bool PosixFileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  const uint64_t stamp = StampOf(*utc);
  const time_t seconds =
      static_cast<time_t>(static_cast<int64_t>(stamp / kTicksPerSecond) - kDays1601To1970 * 86'400);
  struct tm fields {};
  if (localtime_r(&seconds, &fields) == nullptr) return false;
  const uint64_t bias = static_cast<uint64_t>(int64_t{fields.tm_gmtoff}) * kTicksPerSecond;
  *local = FileTimeOf(stamp + bias);  // wraps modulo 2^64, as on Windows
  return true;
}

bool PosixFileTimeToSystemTime(const FILETIME* stamp, SYSTEMTIME* fields) {
  return SplitStamp(StampOf(*stamp), *fields);
}

bool PosixSystemTimeToFileTime(const SYSTEMTIME* fields, FILETIME* stamp) {
  uint64_t joined = 0;
  if (!JoinStamp(*fields, joined)) return false;
  *stamp = FileTimeOf(joined);
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
