// Criterion expressions: splitting, parsing and completing the size, date and
// time texts.
#include "engine/criteria.h"

#include <cstring>
#include <limits>

#include "platform/calendar.h"

namespace marlit {
namespace {

constexpr int64_t kMaxSize = std::numeric_limits<int64_t>::max();

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsDateSeparator(char c) { return c == '-' || c == '.' || c == '/'; }

// A run of digits from pos, read left to right in unsigned 32-bit arithmetic
// (so any length reads, and the value modulo 65536 is the true one's); an
// empty run is not given. pos ends behind the run.
struct DigitRun {
  bool Given;
  uint32_t Value;
};

DigitRun ReadDigitRun(std::string_view text, size_t& pos) {
  DigitRun run{false, 0};
  while (pos < text.size() && IsDigit(text[pos])) {
    run.Given = true;
    run.Value = run.Value * 10u + static_cast<uint32_t>(text[pos] - '0');
    ++pos;
  }
  return run;
}

uint16_t ComponentOf(DigitRun run) {
  return run.Given ? static_cast<uint16_t>(run.Value) : NotGiven;
}

// A year of 1000 or more is the year as written. Below that, two-digit
// years: 0..49 are 2000..2049, everything else has 1900 added (so 124 is
// 2024). Adding 1900 to four digits would give years from 2900 on, which no
// one means.
uint16_t YearOf(uint16_t n) {
  if (n >= 1000) return n;
  return static_cast<uint16_t>(n < 50 ? n + 2000 : n + 1900);
}

int64_t SaturatingMultiply(int64_t a, int64_t b) {
  int64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? kMaxSize : product;
}

void SetTimeOfDay(SYSTEMTIME& bound, uint16_t hour, uint16_t minute, uint16_t second) {
  bound.wHour = hour;
  bound.wMinute = minute;
  bound.wSecond = second;
}

void FillNotGiven(uint16_t& field, uint16_t value) {
  if (field == NotGiven) field = value;
}

void CompleteLowerTime(SYSTEMTIME& from) {
  FillNotGiven(from.wHour, 0);
  FillNotGiven(from.wMinute, 0);
  FillNotGiven(from.wSecond, 0);
}

void CompleteUpperTime(SYSTEMTIME& to) {
  FillNotGiven(to.wHour, 23);
  FillNotGiven(to.wMinute, 59);
  FillNotGiven(to.wSecond, 59);
}

void CompleteLowerDate(SYSTEMTIME& from, const TimeServices& clock) {
  SetTimeOfDay(from, 0, 0, 0);
  FillNotGiven(from.wDay, 1);
  FillNotGiven(from.wMonth, 1);
  if (from.wYear == NotGiven) from.wYear = CurrentYear(clock);
}

void CompleteUpperDate(SYSTEMTIME& to, const TimeServices& clock) {
  SetTimeOfDay(to, 23, 59, 59);
  if (to.wYear == NotGiven) to.wYear = CurrentYear(clock);
  FillNotGiven(to.wMonth, 12);
  if (to.wDay == NotGiven) to.wDay = DaysInMonth(to.wMonth, to.wYear);
}

int64_t SizeBound(std::string_view text) { return text.empty() ? kNoSize : ParseSize(text); }

}  // namespace

bool ContainsChar(std::string_view text, char c) { return text.find(c) != std::string_view::npos; }

SplitText SplitCriterion(std::string_view text) {
  if (!ContainsChar(text, '.')) {
    if (text.empty()) return {RangeKind::None, {}, {}};
    return {RangeKind::Exact, text, {}};
  }
  if (text.front() == '.') {
    return {RangeKind::UpTo, {}, text.size() > 2 ? text.substr(2) : std::string_view{}};
  }
  if (text.back() == '.') {
    return {RangeKind::From, text.substr(0, text.size() >= 2 ? text.size() - 2 : 0), {}};
  }
  // The first '.' is not the last character, so dot + 2 is within the text.
  const size_t dot = text.find('.');
  return {RangeKind::Between, text.substr(0, dot), text.substr(dot + 2)};
}

int64_t ParseSize(std::string_view text) {
  int64_t bytes = 0;
  for (size_t pos = 0; pos < text.size() && IsDigit(text[pos]); ++pos) {
    bytes = SaturatingMultiply(bytes, 10);
    const int64_t digit = text[pos] - '0';
    bytes = bytes > kMaxSize - digit ? kMaxSize : bytes + digit;
  }
  int64_t multiplier = 1;
  if (ContainsChar(text, 'k') || ContainsChar(text, 'K')) {
    multiplier = int64_t{1} << 10;
  } else if (ContainsChar(text, 'm') || ContainsChar(text, 'M')) {
    multiplier = int64_t{1} << 20;
  } else if (ContainsChar(text, 'g') || ContainsChar(text, 'G')) {
    multiplier = int64_t{1} << 30;
  }
  return SaturatingMultiply(bytes, multiplier);
}

void ParseDate(std::string_view text, SYSTEMTIME& bound) {
  DigitRun parts[3] = {};
  size_t component = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    if (IsDateSeparator(text[pos])) {
      ++pos;
      if (++component == 3) break;
    } else if (IsDigit(text[pos])) {
      parts[component] = ReadDigitRun(text, pos);
    } else {
      break;  // any other character ends the date
    }
  }
  bound.wDay = ComponentOf(parts[0]);
  bound.wMonth = ComponentOf(parts[1]);
  bound.wYear = NotGiven;
  if (parts[2].Given) bound.wYear = YearOf(static_cast<uint16_t>(parts[2].Value));
}

void ParseTime(std::string_view text, SYSTEMTIME& bound) {
  size_t pos = 0;
  const DigitRun hour = ReadDigitRun(text, pos);
  DigitRun minute{false, 0};
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    minute = ReadDigitRun(text, pos);
  }
  bound.wHour = ComponentOf(hour);
  bound.wMinute = ComponentOf(minute);
  bound.wSecond = NotGiven;
}

void CompleteTimeBounds(RangeKind kind, SYSTEMTIME& from, SYSTEMTIME& to) {
  if (kind == RangeKind::Between || kind == RangeKind::From) CompleteLowerTime(from);
  if (kind == RangeKind::Between || kind == RangeKind::UpTo) CompleteUpperTime(to);
}

void CompleteDateBounds(RangeKind kind, SYSTEMTIME& from, SYSTEMTIME& to,
                        const TimeServices& clock) {
  if (kind == RangeKind::Between || kind == RangeKind::From) CompleteLowerDate(from, clock);
  if (kind == RangeKind::Between || kind == RangeKind::UpTo) CompleteUpperDate(to, clock);
}

// February follows the full Gregorian rule: the filled-in last day must be a
// real date, or in a year like 2100 the bound would pass no item.
uint16_t DaysInMonth(uint16_t month, uint16_t year) {
  return month >= 1 && month <= 12 ? MonthLength(year, month) : 31;
}

uint16_t CurrentYear(const TimeServices& clock) {
  SYSTEMTIME now{};
  clock.GetLocalTime(&now);
  return now.wYear;
}

void ParseCriteria(std::string_view sizeText, std::string_view dateText, std::string_view timeText,
                   const TimeServices& clock, SelectionCriteria& criteria) {
  criteria.DateFrom = criteria.DateTo = criteria.TimeFrom = criteria.TimeTo = SYSTEMTIME{};
  const SplitText size = SplitCriterion(sizeText);
  const SplitText time = SplitCriterion(timeText);
  const SplitText date = SplitCriterion(dateText);
  criteria.SizeKind = size.Kind;
  criteria.TimeKind = time.Kind;
  criteria.DateKind = date.Kind;

  ParseDate(date.Lower, criteria.DateFrom);
  ParseDate(date.Upper, criteria.DateTo);
  ParseTime(time.Lower, criteria.TimeFrom);
  ParseTime(time.Upper, criteria.TimeTo);

  CompleteTimeBounds(criteria.TimeKind, criteria.TimeFrom, criteria.TimeTo);
  CompleteDateBounds(criteria.DateKind, criteria.DateFrom, criteria.DateTo, clock);

  criteria.SizeFrom = SizeBound(size.Lower);
  criteria.SizeTo = SizeBound(size.Upper);
}

}  // namespace marlit
