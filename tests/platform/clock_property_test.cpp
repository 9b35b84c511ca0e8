// The time services against an independent model, for random stamps, random
// calendar fields and the zone the test runs in. Natively this checks the
// POSIX arithmetic, under Wine kernel32 itself: both agree with the model, so
// with each other, on every conversion and every failure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "platform/clock.h"

namespace marlit {
namespace {

// The model: plain counting by years and months, nothing shared with the
// services' own arithmetic.
bool ModelLeap(uint32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

uint32_t ModelMonthDays(uint32_t y, uint32_t m) {
  static const uint32_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && ModelLeap(y) ? 29 : days[m - 1];
}

constexpr uint64_t kDaysPer400Years = 146'097;

SYSTEMTIME ModelSplit(uint64_t stamp) {
  uint64_t days = stamp / kTicksPerDay;
  const uint64_t inDay = stamp % kTicksPerDay;
  const uint32_t weekday = static_cast<uint32_t>((days + 1) % 7);  // 1601-01-01: Monday
  uint32_t year = 1601 + static_cast<uint32_t>(days / kDaysPer400Years) * 400;
  days %= kDaysPer400Years;
  while (days >= (ModelLeap(year) ? 366u : 365u)) days -= ModelLeap(year++) ? 366 : 365;
  uint32_t month = 1;
  while (days >= ModelMonthDays(year, month)) days -= ModelMonthDays(year, month++);
  const uint64_t seconds = inDay / kTicksPerSecond;
  return SYSTEMTIME{static_cast<uint16_t>(year),
                    static_cast<uint16_t>(month),
                    static_cast<uint16_t>(weekday),
                    static_cast<uint16_t>(days + 1),
                    static_cast<uint16_t>(seconds / 3600),
                    static_cast<uint16_t>(seconds / 60 % 60),
                    static_cast<uint16_t>(seconds % 60),
                    static_cast<uint16_t>(inDay % kTicksPerSecond / 10'000)};
}

bool ModelJoin(const SYSTEMTIME& t, uint64_t& stamp) {
  if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
      t.wDay > ModelMonthDays(t.wYear, t.wMonth) || t.wHour > 23 || t.wMinute > 59 ||
      t.wSecond > 59 || t.wMilliseconds > 999) {
    return false;
  }
  const uint32_t cycles = (t.wYear - 1601u) / 400;
  uint64_t days = cycles * kDaysPer400Years;
  for (uint32_t y = 1601 + cycles * 400; y < t.wYear; ++y) days += ModelLeap(y) ? 366 : 365;
  for (uint32_t m = 1; m < t.wMonth; ++m) days += ModelMonthDays(t.wYear, m);
  days += t.wDay - 1u;
  stamp = days * kTicksPerDay +
          (t.wHour * 3600ull + t.wMinute * 60ull + t.wSecond) * kTicksPerSecond +
          t.wMilliseconds * 10'000ull;
  return true;
}

bool Same(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDayOfWeek == b.wDayOfWeek &&
         a.wDay == b.wDay && a.wHour == b.wHour && a.wMinute == b.wMinute &&
         a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

std::string Show(const SYSTEMTIME& t) {
  return std::to_string(t.wYear) + "-" + std::to_string(t.wMonth) + "-" + std::to_string(t.wDay) +
         " " + std::to_string(t.wHour) + ":" + std::to_string(t.wMinute) + ":" +
         std::to_string(t.wSecond) + "." + std::to_string(t.wMilliseconds) + " dow " +
         std::to_string(t.wDayOfWeek);
}

constexpr int kSamples = 20'000;

TEST(ClockModel, SplittingRandomStamps) {
  std::mt19937_64 random(1601);
  for (int i = 0; i < kSamples; ++i) {
    const uint64_t stamp = i % 4 == 0 ? random() : random() >> 1;  // a quarter beyond 2^63
    const FILETIME in = FileTimeOf(stamp);
    SYSTEMTIME fields{};
    const bool ok = kSystemTime.FileTimeToSystemTime(&in, &fields);
    ASSERT_EQ(ok, stamp <= uint64_t{INT64_MAX}) << stamp;
    if (ok) {
      ASSERT_TRUE(Same(fields, ModelSplit(stamp))) << stamp << ": " << Show(fields);
    }
  }
}

TEST(ClockModel, JoiningRandomFields) {
  std::mt19937 random(30827);
  // Mostly plausible fields, with every field now and then out of range.
  auto field = [&](uint32_t low, uint32_t high) {
    return static_cast<uint16_t>(random() % 16 == 0 ? random() % 65536
                                                    : low + random() % (high - low + 1));
  };
  for (int i = 0; i < kSamples; ++i) {
    const SYSTEMTIME t{field(1590, 30840), field(0, 13), field(0, 6),  field(0, 31),
                       field(0, 24),       field(0, 60), field(0, 60), field(0, 1000)};
    FILETIME out{};
    uint64_t expected = 0;
    const bool ok = kSystemTime.SystemTimeToFileTime(&t, &out);
    ASSERT_EQ(ok, ModelJoin(t, expected)) << Show(t);
    if (ok) {
      ASSERT_EQ(StampOf(out), expected) << Show(t);
    }
  }
}

// Minutes east of UTC of the zones the test is registered with.
int ZoneBiasMinutes() {
  const char* tz = std::getenv("TZ");
  const std::string zone = tz != nullptr ? tz : "UTC";
  if (zone == "Asia/Kolkata") return 330;
  if (zone.rfind("Etc/GMT", 0) == 0 && zone.size() > 7) {
    return -60 * std::atoi(zone.c_str() + 7);  // Etc/GMT-14 is UTC+14
  }
  return 0;
}

// From 1946 on, when Asia/Kolkata last changed its offset: on Windows every
// stamp takes the bias in force now, on Linux the one of its own instant, and
// from then on the two agree.
TEST(ClockModel, LocalShiftOfRandomStamps) {
  const uint64_t bias = static_cast<uint64_t>(int64_t{ZoneBiasMinutes()} * 60) * kTicksPerSecond;
  constexpr uint64_t k1946 = 108'870'912'000'000'000;  // 1946-01-01
  std::mt19937_64 random(1970);
  for (int i = 0; i < kSamples; ++i) {
    const uint64_t stamp = k1946 + random() % (~uint64_t{0} - k1946);
    const FILETIME utc = FileTimeOf(stamp);
    FILETIME local{};
    ASSERT_TRUE(kSystemTime.FileTimeToLocalFileTime(&utc, &local));
    ASSERT_EQ(StampOf(local), stamp + bias) << stamp;
  }
}

}  // namespace
}  // namespace marlit
