// Parsing of the size, date and time criterion texts.
#include "engine/criteria.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fake_clock.h"

namespace marlit {
namespace {

constexpr uint16_t NG = NotGiven;
constexpr int64_t kMax64 = INT64_MAX;

// The calendar fields a bound is compared on, in reading order.
struct Bound {
  uint16_t Day, Month, Year, Hour, Minute, Second;
};

Bound DateFields(const SYSTEMTIME& t) {
  return {t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond};
}

bool operator==(const Bound& a, const Bound& b) {
  return a.Day == b.Day && a.Month == b.Month && a.Year == b.Year && a.Hour == b.Hour &&
         a.Minute == b.Minute && a.Second == b.Second;
}

std::ostream& operator<<(std::ostream& os, const Bound& b) {
  return os << b.Day << '-' << b.Month << '-' << b.Year << ' ' << b.Hour << ':' << b.Minute << ':'
            << b.Second;
}

SelectionCriteria Parse(const std::string& size, const std::string& date, const std::string& time) {
  const TimeServices clock = test::FixedClock(0, test::Date(2026, 12, 8, 12, 0, 0));
  SelectionCriteria c{};
  ParseCriteria(size, date, time, clock, c);
  return c;
}

struct SplitRow {
  const char* Text;
  RangeKind Kind;
  const char* Lower;
  const char* Upper;
};

TEST(SplitCriterion, Table) {
  const SplitRow rows[] = {
      {"", RangeKind::None, "", ""},
      {"100k", RangeKind::Exact, "100k", ""},
      {"1k..2m", RangeKind::Between, "1k", "2m"},
      {"10k..", RangeKind::From, "10k", ""},
      {"..10k", RangeKind::UpTo, "", "10k"},
      {"..", RangeKind::UpTo, "", ""},
      {".", RangeKind::UpTo, "", ""},
      {"5.7", RangeKind::Between, "5", ""},
      {"50.", RangeKind::From, "5", ""},
      {".50", RangeKind::UpTo, "", "0"},
      {"..5..", RangeKind::UpTo, "", "5.."},
      {"1-1-99..31-12-99", RangeKind::Between, "1-1-99", "31-12-99"},
      {"1.1.99", RangeKind::Between, "1", ".99"},
      {"1.1.99..", RangeKind::From, "1.1.99", ""},
      {" ", RangeKind::Exact, " ", ""},
      {"a.", RangeKind::From, "", ""},
  };
  for (const SplitRow& r : rows) {
    const SplitText s = SplitCriterion(r.Text);
    EXPECT_EQ(s.Kind, r.Kind) << '"' << r.Text << '"';
    EXPECT_EQ(s.Lower, r.Lower) << '"' << r.Text << '"';
    EXPECT_EQ(s.Upper, r.Upper) << '"' << r.Text << '"';
  }
}

TEST(SplitCriterion, LongTextIsReadWhole) {
  const std::string lower(300, '7');
  const std::string upper(200, '8');
  const std::string text = lower + ".." + upper;
  const SplitText s = SplitCriterion(text);
  EXPECT_EQ(s.Kind, RangeKind::Between);
  EXPECT_EQ(s.Lower, lower);
  EXPECT_EQ(s.Upper, upper);
}

struct SizeRow {
  const char* Text;
  RangeKind Kind;
  int64_t From;
  int64_t To;
};

TEST(ParseCriteria, Sizes) {
  const SizeRow rows[] = {
      {"", RangeKind::None, -1, -1},
      {"100", RangeKind::Exact, 100, -1},
      {"..10k", RangeKind::UpTo, -1, 10240},
      {"10k", RangeKind::Exact, 10240, -1},
      {"10K", RangeKind::Exact, 10240, -1},
      {"10kb", RangeKind::Exact, 10240, -1},
      {"10 KB", RangeKind::Exact, 10240, -1},
      {"1m", RangeKind::Exact, 1048576, -1},
      {"1g", RangeKind::Exact, 1073741824, -1},
      {"k10", RangeKind::Exact, 0, -1},
      {"1m2", RangeKind::Exact, 1048576, -1},
      {"1mk", RangeKind::Exact, 1024, -1},
      {"-5", RangeKind::Exact, 0, -1},
      {"+5", RangeKind::Exact, 0, -1},
      {" 5", RangeKind::Exact, 0, -1},
      {"0x10", RangeKind::Exact, 0, -1},
      {" ", RangeKind::Exact, 0, -1},
      {"1k..2m", RangeKind::Between, 1024, 2097152},
      {"10k..", RangeKind::From, 10240, -1},
      {"..", RangeKind::UpTo, -1, -1},
      // Beyond 32 bits: read in 64 bits, saturating instead of wrapping.
      {"2g..", RangeKind::From, 2147483648, -1},
      {"..4g", RangeKind::UpTo, -1, 4294967296},
      {"3g", RangeKind::Exact, 3221225472, -1},
      {"4096m", RangeKind::Exact, 4294967296, -1},
      {"9223372036854775807", RangeKind::Exact, kMax64, -1},
      {"9223372036854775808", RangeKind::Exact, kMax64, -1},
      {"99999999999999999999999999", RangeKind::Exact, kMax64, -1},
      {"9999999999g", RangeKind::Exact, kMax64, -1},
      {"8589934592g", RangeKind::Exact, kMax64, -1},
  };
  for (const SizeRow& r : rows) {
    const SelectionCriteria c = Parse(r.Text, "", "");
    EXPECT_EQ(c.SizeKind, r.Kind) << '"' << r.Text << '"';
    EXPECT_EQ(c.SizeFrom, r.From) << '"' << r.Text << '"';
    EXPECT_EQ(c.SizeTo, r.To) << '"' << r.Text << '"';
  }
}

struct DateRow {
  const char* Text;
  RangeKind Kind;
  Bound From;
  Bound To;
};

// The fixed clock's current year.
constexpr uint16_t Y = 2026;

TEST(ParseCriteria, Dates) {
  const Bound none{NG, NG, NG, 0, 0, 0};
  const DateRow rows[] = {
      {"", RangeKind::None, none, none},
      {"15", RangeKind::Exact, {15, NG, NG, 0, 0, 0}, none},
      {"-6-", RangeKind::Exact, {NG, 6, NG, 0, 0, 0}, none},
      {"1-2-3-4", RangeKind::Exact, {1, 2, 2003, 0, 0, 0}, none},
      {"1/2/3", RangeKind::Exact, {1, 2, 2003, 0, 0, 0}, none},
      {"1-1-0", RangeKind::Exact, {1, 1, 2000, 0, 0, 0}, none},
      {"1-1-00", RangeKind::Exact, {1, 1, 2000, 0, 0, 0}, none},
      {"1-1-49", RangeKind::Exact, {1, 1, 2049, 0, 0, 0}, none},
      {"1-1-50", RangeKind::Exact, {1, 1, 1950, 0, 0, 0}, none},
      {"1-1-99", RangeKind::Exact, {1, 1, 1999, 0, 0, 0}, none},
      {"1-1-100", RangeKind::Exact, {1, 1, 2000, 0, 0, 0}, none},
      // A year of 1000 or more is the year as written; below, two digits.
      {"1-1-2005", RangeKind::Exact, {1, 1, 2005, 0, 0, 0}, none},
      {"1-1-124", RangeKind::Exact, {1, 1, 2024, 0, 0, 0}, none},
      {"1-1-999", RangeKind::Exact, {1, 1, 2899, 0, 0, 0}, none},
      {"1-1-1000", RangeKind::Exact, {1, 1, 1000, 0, 0, 0}, none},
      {"1-1-65541", RangeKind::Exact, {1, 1, 2005, 0, 0, 0}, none},  // 5 modulo 65536
      {"1-1-2024..31-12-2024",
       RangeKind::Between,
       {1, 1, 2024, 0, 0, 0},
       {31, 12, 2024, 23, 59, 59}},
      {"1-1-99..31-12-99", RangeKind::Between, {1, 1, 1999, 0, 0, 0}, {31, 12, 1999, 23, 59, 59}},
      {"..", RangeKind::UpTo, none, {31, 12, Y, 23, 59, 59}},
      {"..-2-00", RangeKind::UpTo, none, {29, 2, 2000, 23, 59, 59}},
      {"..-2-01", RangeKind::UpTo, none, {28, 2, 2001, 23, 59, 59}},
      {"..-6-", RangeKind::UpTo, none, {30, 6, Y, 23, 59, 59}},
      {"1-3..", RangeKind::From, {1, 3, Y, 0, 0, 0}, none},
      {"1.1.99", RangeKind::Between, {1, 1, Y, 0, 0, 0}, {31, 99, Y, 23, 59, 59}},
      {"1.1.99..", RangeKind::From, {1, 1, 1999, 0, 0, 0}, none},
      // The last day of February is a real date in every year.
      {"..-2-200", RangeKind::UpTo, none, {28, 2, 2100, 23, 59, 59}},
      // Any character other than a digit or a separator ends the date.
      {"31 -12", RangeKind::Exact, {31, NG, NG, 0, 0, 0}, none},
      {"1-x-3", RangeKind::Exact, {1, NG, NG, 0, 0, 0}, none},
      {"x", RangeKind::Exact, {NG, NG, NG, 0, 0, 0}, none},
      // Components of any length; the value is kept modulo 65536.
      {"000000000000000000000000000000000000000015-1",
       RangeKind::Exact,
       {15, 1, NG, 0, 0, 0},
       none},
      {"65541", RangeKind::Exact, {5, NG, NG, 0, 0, 0}, none},
      {"4294967301", RangeKind::Exact, {5, NG, NG, 0, 0, 0}, none},
  };
  for (const DateRow& r : rows) {
    const SelectionCriteria c = Parse("", r.Text, "");
    EXPECT_EQ(c.DateKind, r.Kind) << '"' << r.Text << '"';
    EXPECT_EQ(DateFields(c.DateFrom), r.From) << '"' << r.Text << '"';
    EXPECT_EQ(DateFields(c.DateTo), r.To) << '"' << r.Text << '"';
    EXPECT_EQ(c.DateFrom.wDayOfWeek | c.DateFrom.wMilliseconds | c.DateTo.wDayOfWeek |
                  c.DateTo.wMilliseconds,
              0)
        << '"' << r.Text << '"';
  }
}

struct TimeRow {
  const char* Text;
  RangeKind Kind;
  uint16_t FromHour, FromMinute, FromSecond;
  uint16_t ToHour, ToMinute, ToSecond;
};

TEST(ParseCriteria, Times) {
  const TimeRow rows[] = {
      {"", RangeKind::None, NG, NG, NG, NG, NG, NG},
      {"10:30", RangeKind::Exact, 10, 30, NG, NG, NG, NG},
      {"10", RangeKind::Exact, 10, NG, NG, NG, NG, NG},
      {":30", RangeKind::Exact, NG, 30, NG, NG, NG, NG},
      {"10:30:45", RangeKind::Exact, 10, 30, NG, NG, NG, NG},
      {"1030", RangeKind::Exact, 1030, NG, NG, NG, NG, NG},
      {"10h30", RangeKind::Exact, 10, NG, NG, NG, NG, NG},
      {" 10:30", RangeKind::Exact, NG, NG, NG, NG, NG, NG},
      {"10:00..12:00", RangeKind::Between, 10, 0, 0, 12, 0, 59},
      {"12..", RangeKind::From, 12, 0, 0, NG, NG, NG},
      {"..12", RangeKind::UpTo, NG, NG, NG, 12, 59, 59},
      {"..", RangeKind::UpTo, NG, NG, NG, 23, 59, 59},
      {":15..", RangeKind::From, 0, 15, 0, NG, NG, NG},
      // An hour part of 30 digits, kept modulo 65536.
      {"123456789012345678901234567890:1", RangeKind::Exact, 2770, 1, NG, NG, NG, NG},
  };
  for (const TimeRow& r : rows) {
    const SelectionCriteria c = Parse("", "", r.Text);
    EXPECT_EQ(c.TimeKind, r.Kind) << '"' << r.Text << '"';
    EXPECT_EQ(c.TimeFrom.wHour, r.FromHour) << '"' << r.Text << '"';
    EXPECT_EQ(c.TimeFrom.wMinute, r.FromMinute) << '"' << r.Text << '"';
    EXPECT_EQ(c.TimeFrom.wSecond, r.FromSecond) << '"' << r.Text << '"';
    EXPECT_EQ(c.TimeTo.wHour, r.ToHour) << '"' << r.Text << '"';
    EXPECT_EQ(c.TimeTo.wMinute, r.ToMinute) << '"' << r.Text << '"';
    EXPECT_EQ(c.TimeTo.wSecond, r.ToSecond) << '"' << r.Text << '"';
  }
}

TEST(ParseCriteria, ThreeTextsAreIndependent) {
  const SelectionCriteria c = Parse("1k..", "15", "..12");
  EXPECT_EQ(c.SizeKind, RangeKind::From);
  EXPECT_EQ(c.SizeFrom, 1024);
  EXPECT_EQ(c.DateKind, RangeKind::Exact);
  EXPECT_EQ(c.DateFrom.wDay, 15);
  EXPECT_EQ(c.TimeKind, RangeKind::UpTo);
  EXPECT_EQ(c.TimeTo.wHour, 12);
}

TEST(ParseCriteria, BoundsAreZeroFilledFirst) {
  SelectionCriteria c{};
  c.DateFrom = c.DateTo = c.TimeFrom = c.TimeTo = SYSTEMTIME{7, 7, 7, 7, 7, 7, 7, 7};
  ParseCriteria("", "", "", test::FixedClock(0), c);
  EXPECT_EQ(c.DateFrom.wHour, 0);
  EXPECT_EQ(c.DateFrom.wMilliseconds, 0);
  EXPECT_EQ(c.TimeFrom.wYear, 0);
  EXPECT_EQ(c.TimeTo.wDayOfWeek, 0);
}

TEST(CurrentYear, AsksTheClockEachTime) {
  EXPECT_EQ(CurrentYear(test::FixedClock(0, test::Date(1999, 1, 1))), 1999);
  EXPECT_EQ(CurrentYear(test::FixedClock(0, test::Date(2031, 6, 1))), 2031);
  SelectionCriteria c{};
  ParseCriteria("", "1-1..-6-", "", test::FixedClock(0, test::Date(2031, 6, 1)), c);
  EXPECT_EQ(c.DateFrom.wYear, 2031);
  EXPECT_EQ(c.DateTo.wYear, 2031);
  EXPECT_EQ(c.DateTo.wDay, 30);
}

TEST(DaysInMonth, Table) {
  struct Row {
    uint16_t Month, Year, Days;
  } const rows[] = {
      {1, 2001, 31}, {2, 2001, 28},  {2, 2000, 29},  {2, 2004, 29},  {2, 2100, 28},  {2, 2400, 29},
      {3, 2001, 31}, {4, 2001, 30},  {6, 2001, 30},  {9, 2001, 30},  {11, 2001, 30}, {12, 2001, 31},
      {0, 2001, 31}, {13, 2001, 31}, {99, 2001, 31}, {NG, 2001, 31},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(DaysInMonth(r.Month, r.Year), r.Days) << r.Month << '/' << r.Year;
  }
}

TEST(ContainsChar, FindsAnywhere) {
  EXPECT_TRUE(ContainsChar("abc", 'c'));
  EXPECT_FALSE(ContainsChar("abc", 'd'));
  EXPECT_FALSE(ContainsChar("", '.'));
}

}  // namespace
}  // namespace marlit
