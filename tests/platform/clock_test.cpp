// The time services against fixed vectors. The same table runs natively (the
// POSIX arithmetic) and under Wine (kernel32), so both agree with Windows.
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/calendar.h"

namespace marlit {
namespace {

constexpr uint64_t k1970 = 116'444'736'000'000'000;  // 11644473600 s after 1601
constexpr int kUnchecked = -1;

struct Vector {
  SYSTEMTIME Fields;
  uint64_t Stamp;
  int DayOfWeek;  // Sunday = 0
};

const Vector kVectors[] = {
    {{1601, 1, 0, 1, 0, 0, 0, 0}, 0, 1},
    {{1601, 1, 0, 1, 0, 0, 0, 1}, 10'000, 1},
    {{1970, 1, 0, 1, 0, 0, 0, 0}, k1970, 4},
    {{2038, 1, 0, 19, 3, 14, 7, 0}, 137'919'572'470'000'000, 2},
    {{2000, 2, 0, 29, 12, 0, 0, 0}, 125'962'992'000'000'000, 2},
    {{2100, 2, 0, 28, 23, 59, 59, 0}, 157'520'159'990'000'000, kUnchecked},
    {{30827, 12, 0, 31, 23, 59, 59, 999}, 9'223'149'887'999'990'000, kUnchecked},
};

bool SameFields(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
         a.wMinute == b.wMinute && a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

std::string Show(const SYSTEMTIME& t) {
  return std::to_string(t.wYear) + "-" + std::to_string(t.wMonth) + "-" + std::to_string(t.wDay) +
         " " + std::to_string(t.wHour) + ":" + std::to_string(t.wMinute) + ":" +
         std::to_string(t.wSecond) + "." + std::to_string(t.wMilliseconds);
}

TEST(Clock, ThereAndBack) {
  for (const Vector& v : kVectors) {
    FILETIME stamp{};
    ASSERT_TRUE(kSystemTime.SystemTimeToFileTime(&v.Fields, &stamp)) << Show(v.Fields);
    EXPECT_EQ(StampOf(stamp), v.Stamp) << Show(v.Fields);
    SYSTEMTIME fields{};
    const FILETIME in = FileTimeOf(v.Stamp);
    ASSERT_TRUE(kSystemTime.FileTimeToSystemTime(&in, &fields)) << v.Stamp;
    EXPECT_TRUE(SameFields(fields, v.Fields)) << Show(fields) << " for " << Show(v.Fields);
    if (v.DayOfWeek != kUnchecked) {
      EXPECT_EQ(fields.wDayOfWeek, v.DayOfWeek) << Show(v.Fields);
    }
  }
}

// The calendar arithmetic both builds split stamps with gives every field,
// the day of the week included, as the service does (kernel32 under Wine).
TEST(Clock, SplittingByArithmeticIsTheServices) {
  const uint64_t stamps[] = {
      0,  // 1601-01-01
      k1970 - 1,
      k1970,
      137'919'572'479'999'999,    // 2038-01-19 03:14:07.9999999
      94'405'823'999'999'999,     // 1900-02-28 23:59:59.9999999
      94'405'824'000'000'000,     // 1900-03-01
      125'962'992'000'000'000,    // 2000-02-29 12:00
      157'520'159'999'999'999,    // 2100-02-28 23:59:59.9999999
      157'520'160'000'000'000,    // 2100-03-01
      9'223'149'887'999'999'999,  // 30827-12-31 23:59:59.9999999
      kLastStamp,
      uint64_t{1} << 63,
  };
  for (uint64_t s : stamps) {
    SYSTEMTIME service{}, arithmetic{};
    const FILETIME in = FileTimeOf(s);
    const bool ok = kSystemTime.FileTimeToSystemTime(&in, &service);
    ASSERT_EQ(SplitStamp(s, arithmetic), ok) << s;
    EXPECT_EQ(std::memcmp(&service, &arithmetic, sizeof service), 0)
        << s << ": " << Show(service) << " / " << Show(arithmetic);
  }
}

TEST(Clock, DayOfWeekIsIgnoredWhenJoining) {
  SYSTEMTIME t{1970, 1, 6, 1, 0, 0, 0, 0};
  FILETIME stamp{};
  ASSERT_TRUE(kSystemTime.SystemTimeToFileTime(&t, &stamp));
  EXPECT_EQ(StampOf(stamp), k1970);
}

TEST(Clock, FieldsThatAreNoTime) {
  const SYSTEMTIME bad[] = {
      {2001, 0, 0, 1, 0, 0, 0, 0},     {2001, 13, 0, 1, 0, 0, 0, 0},
      {2001, 99, 0, 31, 0, 0, 0, 0},   {2001, 1, 0, 0, 0, 0, 0, 0},
      {2001, 1, 0, 32, 0, 0, 0, 0},    {2001, 4, 0, 31, 0, 0, 0, 0},
      {2001, 2, 0, 29, 0, 0, 0, 0},    {1900, 2, 0, 29, 0, 0, 0, 0},
      {2100, 2, 0, 29, 0, 0, 0, 0},    {2001, 1, 0, 1, 24, 0, 0, 0},
      {2001, 1, 0, 1, 0, 60, 0, 0},    {2001, 1, 0, 1, 0, 0, 60, 0},
      {2001, 1, 0, 1, 0, 0, 0, 1000},  {1600, 12, 0, 31, 0, 0, 0, 0},
      {30828, 1, 0, 1, 0, 0, 0, 0},    {65535, 12, 0, 31, 0, 0, 0, 0},
      {2001, 65535, 0, 1, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const SYSTEMTIME& t : bad) {
    FILETIME stamp{};
    EXPECT_FALSE(kSystemTime.SystemTimeToFileTime(&t, &stamp)) << Show(t);
  }
}

TEST(Clock, StampsThatAreNoTime) {
  const uint64_t bad[] = {uint64_t{1} << 63, (uint64_t{1} << 63) + 1, ~uint64_t{0}};
  for (uint64_t s : bad) {
    const FILETIME in = FileTimeOf(s);
    SYSTEMTIME fields{};
    EXPECT_FALSE(kSystemTime.FileTimeToSystemTime(&in, &fields)) << s;
  }
  const FILETIME last = FileTimeOf(kLastStamp);
  SYSTEMTIME fields{};
  ASSERT_TRUE(kSystemTime.FileTimeToSystemTime(&last, &fields));
  EXPECT_TRUE(SameFields(fields, SYSTEMTIME{30828, 9, 0, 14, 2, 48, 5, 477})) << Show(fields);
  EXPECT_EQ(fields.wDayOfWeek, 4);
}

// Every day of one 400-year cycle, from 2000-01-01: split, join back, and
// step to the next calendar day.
TEST(Clock, AllTheDaysOfACycle) {
  const SYSTEMTIME start{2000, 1, 0, 1, 0, 0, 0, 0};
  FILETIME first{};
  ASSERT_TRUE(kSystemTime.SystemTimeToFileTime(&start, &first));
  SYSTEMTIME previous = start;
  previous.wDayOfWeek = 6;  // a Saturday
  for (uint64_t day = 1; day <= 146'097; ++day) {
    const FILETIME in =
        FileTimeOf(StampOf(first) + day * kTicksPerDay + 12 * 3600 * kTicksPerSecond);
    SYSTEMTIME t{};
    ASSERT_TRUE(kSystemTime.FileTimeToSystemTime(&in, &t));
    const bool nextDay =
        t.wDay == previous.wDay + 1 && t.wMonth == previous.wMonth && t.wYear == previous.wYear;
    const bool nextMonth =
        t.wDay == 1 && ((t.wMonth == previous.wMonth + 1 && t.wYear == previous.wYear) ||
                        (t.wMonth == 1 && previous.wMonth == 12 && t.wYear == previous.wYear + 1));
    ASSERT_TRUE(nextDay || nextMonth) << Show(previous) << " -> " << Show(t);
    ASSERT_EQ(t.wDayOfWeek, (previous.wDayOfWeek + 1) % 7) << Show(t);
    ASSERT_EQ(t.wHour, 12);
    FILETIME back{};
    ASSERT_TRUE(kSystemTime.SystemTimeToFileTime(&t, &back)) << Show(t);
    ASSERT_EQ(StampOf(back), StampOf(in)) << Show(t);
    previous = t;
  }
  EXPECT_EQ(previous.wYear, 2400);
  EXPECT_EQ(previous.wMonth, 1);
  EXPECT_EQ(previous.wDay, 1);
}

// The bias the test's TZ setting stands for, in minutes east of UTC.
int64_t ExpectedBiasMinutes() {
  const char* tz = std::getenv("TZ");
  const std::string zone = tz != nullptr ? tz : "";
  if (zone == "Etc/GMT-2") return 120;
  if (zone == "Etc/GMT+2") return -120;
  return 0;
}

TEST(Clock, LocalShiftIsTheZoneBias) {
  const uint64_t bias = static_cast<uint64_t>(ExpectedBiasMinutes() * 60) * kTicksPerSecond;
  const uint64_t stamps[] = {0, k1970, 137'919'572'470'000'000, kLastStamp, ~uint64_t{0}};
  for (uint64_t s : stamps) {
    const FILETIME utc = FileTimeOf(s);
    FILETIME local{};
    EXPECT_TRUE(kSystemTime.FileTimeToLocalFileTime(&utc, &local));
    EXPECT_EQ(StampOf(local), s + bias) << s;  // wraps in 64 bits
  }
}

TEST(Clock, LocalTimeNow) {
  SYSTEMTIME now{};
  kSystemTime.GetLocalTime(&now);
  FILETIME local{};
  ASSERT_TRUE(kSystemTime.SystemTimeToFileTime(&now, &local)) << Show(now);
  const uint64_t utcNow = k1970 + static_cast<uint64_t>(std::time(nullptr)) * kTicksPerSecond;
  const int64_t expected =
      static_cast<int64_t>(utcNow) + ExpectedBiasMinutes() * 60 * int64_t{kTicksPerSecond};
  const int64_t drift = static_cast<int64_t>(StampOf(local)) - expected;
  EXPECT_LT(std::llabs(drift), 5 * int64_t{kTicksPerSecond}) << Show(now);
}

}  // namespace
}  // namespace marlit
