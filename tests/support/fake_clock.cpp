#include "support/fake_clock.h"

#include <stdexcept>

namespace marlit::test {
namespace {

int64_t g_biasTicks = 0;
uint64_t g_change = 0;
int64_t g_biasAfterTicks = 0;
SYSTEMTIME g_now{};

int64_t Ticks(int minutes) { return int64_t{minutes} * 60 * static_cast<int64_t>(kTicksPerSecond); }

bool FixedToLocal(const FILETIME* utc, FILETIME* local) {
  *local = FileTimeOf(StampOf(*utc) + static_cast<uint64_t>(g_biasTicks));
  return true;
}

bool ChangingToLocal(const FILETIME* utc, FILETIME* local) {
  const int64_t bias = StampOf(*utc) < g_change ? g_biasTicks : g_biasAfterTicks;
  *local = FileTimeOf(StampOf(*utc) + static_cast<uint64_t>(bias));
  return true;
}

void FixedNow(SYSTEMTIME* now) { *now = g_now; }

}  // namespace

TimeServices FixedClock(int biasMinutes, SYSTEMTIME now) {
  g_biasTicks = Ticks(biasMinutes);
  g_now = now;
  return TimeServices{FixedToLocal, kSystemTime.FileTimeToSystemTime,
                      kSystemTime.SystemTimeToFileTime, FixedNow};
}

TimeServices ChangingClock(int before, uint64_t change, int after, SYSTEMTIME now) {
  g_biasTicks = Ticks(before);
  g_change = change;
  g_biasAfterTicks = Ticks(after);
  g_now = now;
  return TimeServices{ChangingToLocal, kSystemTime.FileTimeToSystemTime,
                      kSystemTime.SystemTimeToFileTime, FixedNow};
}

SYSTEMTIME Date(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute,
                uint16_t second) {
  return SYSTEMTIME{year, month, 0, day, hour, minute, second, 0};
}

uint64_t Stamp(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute,
               uint16_t second) {
  const SYSTEMTIME fields = Date(year, month, day, hour, minute, second);
  FILETIME stamp{};
  if (!kSystemTime.SystemTimeToFileTime(&fields, &stamp)) {
    throw std::invalid_argument("no such date");
  }
  return StampOf(stamp);
}

}  // namespace marlit::test
