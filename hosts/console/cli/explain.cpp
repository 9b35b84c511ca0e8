#include "console/cli/explain.h"

#include <memory>
#include <string_view>

#include "console/cli/options.h"
#include "engine/criteria.h"
#include "engine/mask_list.h"
#include "platform/calendar.h"

namespace marlit::console {
namespace {

constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t LeadingDigits(std::string_view text) {
  size_t n = 0;
  while (n < text.size() && IsDigit(text[n])) ++n;
  return n;
}

// A text in quotes, its control bytes shown as '?' so that a message stays
// on one line.
std::string Quoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  }
  return quoted + "'";
}

std::string TwoDigits(unsigned value) { return (value < 10 ? "0" : "") + std::to_string(value); }

std::string Bytes(int64_t count) { return GroupedNumber(static_cast<uint64_t>(count)) + " bytes"; }

std::string MonthName(uint16_t month) {
  return month >= 1 && month <= 12 ? kMonthNames[month - 1] : "month " + std::to_string(month);
}

std::string ClockTime(const SYSTEMTIME& t) {
  return TwoDigits(t.wHour) + ":" + TwoDigits(t.wMinute) + ":" + TwoDigits(t.wSecond);
}

uint32_t SecondsOfDay(const SYSTEMTIME& t) {
  return uint32_t{t.wHour} * 3600 + uint32_t{t.wMinute} * 60 + uint32_t{t.wSecond};
}

// A completed date bound: "1 Mar 2024 00:00", "31 Dec 2026 end of day".
std::string DateBoundText(const SYSTEMTIME& t) {
  std::string text =
      std::to_string(t.wDay) + " " + MonthName(t.wMonth) + " " + std::to_string(t.wYear) + " ";
  if (t.wHour == 23 && t.wMinute == 59 && t.wSecond == 59) return text + "end of day";
  if (t.wSecond == 0) return text + TwoDigits(t.wHour) + ":" + TwoDigits(t.wMinute);
  return text + ClockTime(t);
}

// The split drops two characters wherever it finds the range mark: beside a
// single '.' one more character goes with it.
void CheckRangeMark(std::string_view text, const SplitText& split, const std::string& head,
                    bool date, std::vector<std::string>& warnings) {
  char dropped = 0;
  switch (split.Kind) {
    case RangeKind::UpTo:
      if (text.size() < 2) {
        warnings.push_back(head + "a lone '.' is read as the range mark '..'");
        return;
      }
      dropped = text[1];
      break;
    case RangeKind::From:
      dropped = text[text.size() - 2];
      break;
    case RangeKind::Between:
      dropped = text[text.find('.') + 1];
      break;
    default:
      return;
  }
  if (dropped == '.') return;
  warnings.push_back(head + "a single '.' is read as the range mark '..', and the " +
                     Quoted(std::string_view(&dropped, 1)) + " beside it is dropped" +
                     (date ? "; write dates with '-' or '/'" : ""));
}

// ---- size

// After the number only one unit letter counts, found anywhere in the text.
bool IsPlainUnit(std::string_view rest) {
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (rest.empty()) return true;
  const std::string_view units = "kKmMgG";
  const bool unit = units.find(rest[0]) != std::string_view::npos;
  if (rest.size() == 1) return unit || rest[0] == 'b' || rest[0] == 'B';
  return unit && rest.size() == 2 && (rest[1] == 'b' || rest[1] == 'B');
}

// A bound's own text, or "the text" when it is the whole criterion.
std::string Naming(std::string_view part, std::string_view whole) {
  return part.size() == whole.size() ? std::string("the text") : Quoted(part);
}

void CheckSizeText(std::string_view part, std::string_view whole, const std::string& head,
                   std::vector<std::string>& warnings) {
  const size_t digits = LeadingDigits(part);
  if (digits == 0) {
    warnings.push_back(head + Naming(part, whole) +
                       " does not start with a digit, so it is 0 bytes");
  } else if (!IsPlainUnit(part.substr(digits))) {
    warnings.push_back(head + Naming(part, whole) + " is read as " + Bytes(ParseSize(part)) +
                       ": after the number only one unit letter counts (k, then m, then g)");
  }
}

void ReadSize(std::string_view text, const SelectionCriteria& c, CriteriaReading& out) {
  const SplitText split = SplitCriterion(text);
  const std::string head = "size " + Quoted(text) + ": ";
  CheckRangeMark(text, split, head, false, out.Warnings);
  for (const std::string_view part : {split.Lower, split.Upper}) {
    if (!part.empty()) CheckSizeText(part, text, head, out.Warnings);
  }
  const bool emptyUpper =
      (c.SizeKind == RangeKind::UpTo || c.SizeKind == RangeKind::Between) && c.SizeTo < 0;
  switch (c.SizeKind) {
    case RangeKind::None:
      out.Lines.push_back("size: any");
      return;
    case RangeKind::Exact:
      out.Lines.push_back("size: exactly " + Bytes(c.SizeFrom));
      return;
    case RangeKind::From:
      if (c.SizeFrom < 0) {
        out.Lines.push_back("size: any (a range without bounds)");
        out.Warnings.push_back(head + "the range has no bounds, so every size passes");
      } else {
        out.Lines.push_back("size: from " + Bytes(c.SizeFrom) + ", no upper bound");
      }
      return;
    case RangeKind::UpTo:
    case RangeKind::Between:
      break;
  }
  if (emptyUpper) {
    out.Lines.push_back("size: none (the upper bound is empty)");
    out.Warnings.push_back(
        head +
        (c.SizeKind == RangeKind::UpTo ? "the range has no bounds" : "the upper bound is empty") +
        ", and no size passes it");
  } else if (c.SizeKind == RangeKind::UpTo) {
    out.Lines.push_back("size: up to " + Bytes(c.SizeTo));
  } else {
    out.Lines.push_back("size: from " + GroupedNumber(static_cast<uint64_t>(c.SizeFrom)) + " to " +
                        Bytes(c.SizeTo));
    if (c.SizeFrom > c.SizeTo) {
      out.Warnings.push_back(head + "the lower bound is above the upper one: no size passes");
    }
  }
}

// ---- date

// The walk over a date text ends at a character that is neither a digit nor a
// separator, and behind the third separator.
void CheckDateText(std::string_view part, std::string_view whole, const std::string& head,
                   std::vector<std::string>& warnings) {
  size_t pos = 0;
  int separators = 0;
  bool digits = false;
  for (; pos < part.size(); ++pos) {
    const char c = part[pos];
    if (c == '-' || c == '.' || c == '/') {
      if (++separators == 3) {
        ++pos;
        break;
      }
    } else if (IsDigit(c)) {
      digits = true;
    } else {
      break;
    }
  }
  if (!digits) {
    warnings.push_back(head + Naming(part, whole) +
                       " has no digits: it gives no day, month or year");
  } else if (pos < part.size()) {
    warnings.push_back(head + "the text from " + Quoted(part.substr(pos)) + " on is ignored");
  }
}

// Why no item can have this exact date; empty when one can.
std::string ImpossibleExactDate(const SYSTEMTIME& d) {
  const bool day = d.wDay != NotGiven, month = d.wMonth != NotGiven, year = d.wYear != NotGiven;
  if (month && (d.wMonth < 1 || d.wMonth > 12))
    return "there is no month " + std::to_string(d.wMonth);
  const unsigned longest = !month          ? 31
                           : year          ? MonthLength(d.wYear, d.wMonth)
                           : d.wMonth == 2 ? 29
                                           : kMonthDays[d.wMonth];
  if (day && (d.wDay < 1 || d.wDay > longest)) {
    return "there is no day " + std::to_string(d.wDay) +
           (month ? " in " + MonthName(d.wMonth) + (year ? " " + std::to_string(d.wYear) : "")
                  : std::string());
  }
  if (year && (d.wYear < kFirstStampYear || d.wYear > kLastStampYear)) {
    return "no file time lies in the year " + std::to_string(d.wYear);
  }
  return {};
}

std::string ExactDateText(const SYSTEMTIME& d) {
  const bool day = d.wDay != NotGiven, month = d.wMonth != NotGiven, year = d.wYear != NotGiven;
  if (day && month && year) {
    return std::to_string(d.wDay) + " " + MonthName(d.wMonth) + " " + std::to_string(d.wYear);
  }
  if (!day && !month && !year) return "any (no day, month or year given)";
  return (day ? "day " + std::to_string(d.wDay) : std::string("any day")) + " of " +
         (month ? MonthName(d.wMonth) : std::string("any month")) + " in " +
         (year ? std::to_string(d.wYear) : std::string("any year"));
}

void ReadDate(std::string_view text, const SelectionCriteria& c, const TimeServices& clock,
              CriteriaReading& out) {
  const SplitText split = SplitCriterion(text);
  const std::string head = "date " + Quoted(text) + ": ";
  CheckRangeMark(text, split, head, true, out.Warnings);
  if (c.DateKind == RangeKind::Exact) {
    CheckDateText(split.Lower, text, head, out.Warnings);
    const std::string why = ImpossibleExactDate(c.DateFrom);
    if (!why.empty()) out.Warnings.push_back(head + why + ": no date passes");
    const std::string date = ExactDateText(c.DateFrom);
    out.Lines.push_back("date: " + date + (date.starts_with("any (") ? "" : ", local time"));
    return;
  }
  if (c.DateKind == RangeKind::None) {
    out.Lines.push_back("date: any");
    return;
  }
  for (const std::string_view part : {split.Lower, split.Upper}) {
    if (!part.empty()) CheckDateText(part, text, head, out.Warnings);
  }
  const bool lower = c.DateKind != RangeKind::UpTo;
  const bool upper = c.DateKind != RangeKind::From;
  // A bound the calendar does not have passes nothing: the same conversion
  // as the plug-in's decides.
  FILETIME from{}, to{};
  const bool fromValid = lower && clock.SystemTimeToFileTime(&c.DateFrom, &from);
  const bool toValid = upper && clock.SystemTimeToFileTime(&c.DateTo, &to);
  if (lower && !fromValid) {
    out.Warnings.push_back(head + "the lower bound, " + DateBoundText(c.DateFrom) +
                           ", is no calendar date: no date passes");
  }
  if (upper && !toValid) {
    out.Warnings.push_back(head + "the upper bound, " + DateBoundText(c.DateTo) +
                           ", is no calendar date: no date passes");
  }
  if (fromValid && toValid && StampOf(from) > StampOf(to)) {
    out.Warnings.push_back(head + "the lower bound is after the upper one: no date passes");
  }
  std::string line = "date: ";
  if (lower && upper) {
    line += DateBoundText(c.DateFrom) + " to " + DateBoundText(c.DateTo);
  } else if (lower) {
    line += "from " + DateBoundText(c.DateFrom) + ", no upper bound";
  } else {
    line += "up to " + DateBoundText(c.DateTo);
  }
  out.Lines.push_back(line + ", local time");
}

// ---- time

// The hour is the leading digits, the minute the digits behind one ':'.
void CheckTimeText(std::string_view part, std::string_view whole, const std::string& head,
                   std::vector<std::string>& warnings) {
  size_t pos = LeadingDigits(part);
  bool digits = pos > 0;
  if (pos < part.size() && part[pos] == ':') {
    const size_t minute = LeadingDigits(part.substr(pos + 1));
    digits = digits || minute > 0;
    pos += 1 + minute;
  }
  if (!digits) {
    warnings.push_back(head + Naming(part, whole) + " has no digits: it gives no hour or minute");
  } else if (pos < part.size()) {
    warnings.push_back(head + "the text from " + Quoted(part.substr(pos)) + " on is ignored");
  }
}

std::string ExactTimeText(const SYSTEMTIME& t) {
  const bool hour = t.wHour != NotGiven, minute = t.wMinute != NotGiven;
  if (hour && minute)
    return TwoDigits(t.wHour) + ":" + TwoDigits(t.wMinute) + " (the whole minute)";
  if (hour) return "any minute of hour " + std::to_string(t.wHour);
  if (minute) return "minute " + std::to_string(t.wMinute) + " of any hour";
  return "any (no hour or minute given)";
}

// A range bound past 23:59:59 or with a minute past 59 still counts as its
// seconds after midnight.
void CheckTimeBound(const SYSTEMTIME& t, const char* which, bool lower, const std::string& head,
                    std::vector<std::string>& warnings) {
  if (t.wHour <= 23 && t.wMinute <= 59) return;
  const uint32_t seconds = SecondsOfDay(t);
  std::string effect;
  if (seconds >= 86'400) {
    effect = lower ? "no time passes" : "every time of day is below it";
  } else {
    SYSTEMTIME same{};
    same.wHour = static_cast<uint16_t>(seconds / 3600);
    same.wMinute = static_cast<uint16_t>(seconds / 60 % 60);
    same.wSecond = static_cast<uint16_t>(seconds % 60);
    effect = "it counts as " + ClockTime(same);
  }
  warnings.push_back(head + "the " + which + " bound, " + ClockTime(t) +
                     ", is no time of day: " + effect);
}

void ReadTime(std::string_view text, const SelectionCriteria& c, CriteriaReading& out) {
  const SplitText split = SplitCriterion(text);
  const std::string head = "time " + Quoted(text) + ": ";
  CheckRangeMark(text, split, head, false, out.Warnings);
  for (const std::string_view part : {split.Lower, split.Upper}) {
    if (!part.empty()) CheckTimeText(part, text, head, out.Warnings);
  }
  const bool lower = c.TimeKind == RangeKind::Between || c.TimeKind == RangeKind::From;
  const bool upper = c.TimeKind == RangeKind::Between || c.TimeKind == RangeKind::UpTo;
  switch (c.TimeKind) {
    case RangeKind::None:
      out.Lines.push_back("time: any");
      return;
    case RangeKind::Exact: {
      const SYSTEMTIME& t = c.TimeFrom;
      if (t.wHour != NotGiven && t.wHour > 23) {
        out.Warnings.push_back(head + "there is no hour " + std::to_string(t.wHour) +
                               ": no time passes");
      } else if (t.wMinute != NotGiven && t.wMinute > 59) {
        out.Warnings.push_back(head + "there is no minute " + std::to_string(t.wMinute) +
                               ": no time passes");
      }
      const std::string time = ExactTimeText(t);
      out.Lines.push_back("time: " + time + (time.starts_with("any (") ? "" : ", local time"));
      return;
    }
    default:
      break;
  }
  if (lower) CheckTimeBound(c.TimeFrom, "lower", true, head, out.Warnings);
  if (upper) CheckTimeBound(c.TimeTo, "upper", false, head, out.Warnings);
  if (lower && upper && SecondsOfDay(c.TimeFrom) > SecondsOfDay(c.TimeTo)) {
    out.Warnings.push_back(head +
                           "the lower bound is after the upper one: no time passes (a range "
                           "does not run past midnight)");
  }
  std::string line = "time: ";
  if (lower && upper) {
    line += ClockTime(c.TimeFrom) + " to " + ClockTime(c.TimeTo) + " of any day";
  } else if (lower) {
    line += "from " + ClockTime(c.TimeFrom) + " to the end of the day";
  } else {
    line += "from the start of the day up to " + ClockTime(c.TimeTo);
  }
  out.Lines.push_back(line + ", local time");
}

// ---- mask, attributes, action

// The patterns [from, to) of a read mask, as the plug-in will put them to the
// name matching.
std::string PatternList(const MaskList& list, int from, int to, const std::string& head,
                        std::vector<std::string>& warnings) {
  std::string words;
  for (int i = from; i < to; ++i) {
    const std::string_view pattern = MaskPattern(list, i);
    words += (words.empty() ? "" : ", ") + Quoted(pattern);
    if (pattern.find("[!") != std::string_view::npos ||
        pattern.find("[^") != std::string_view::npos) {
      warnings.push_back(head + "a set has no negation: in " + Quoted(pattern) +
                         " the '!' or '^' is one of its members");
    }
  }
  return words;
}

void ReadMask(std::string_view mask, CriteriaReading& out) {
  const std::string head = "mask " + Quoted(mask) + ": ";
  const auto list = std::make_unique<MaskList>();
  ReadMaskList(mask, *list);
  const std::string include = PatternList(*list, 0, list->IncludeCount, head, out.Warnings);
  const std::string exclude =
      PatternList(*list, list->IncludeCount, list->PatternCount, head, out.Warnings);
  const bool everyName = list->IncludeCount == 0 || include == "'*.*'";
  std::string line = "mask: " + (everyName ? std::string("every name") : "any of " + include);
  if (!exclude.empty()) line += "; none of " + exclude;
  out.Lines.push_back(line);
}

std::string AttributeWords(uint32_t bits) {
  std::string words;
  for (int k = 0; k < kAttributeCount; ++k) {
    if ((bits >> k & 1) != 0) words += (words.empty() ? "" : ", ") + std::string(AttributeWord(k));
  }
  return words;
}

void ReadAttributesAndAction(const SettingsValues& v, CriteriaReading& out) {
  std::string line = "attributes: ";
  if (v.InAttr == 0 && v.ExAttr == 0) line += "any";
  if (v.InAttr != 0) line += "at least one of " + AttributeWords(v.InAttr);
  if (v.InAttr != 0 && v.ExAttr != 0) line += "; ";
  if (v.ExAttr != 0) line += "not all of " + AttributeWords(v.ExAttr);
  out.Lines.push_back(line);
  const char* const action = v.Mode == 1 ? "deselect" : v.Mode == 2 ? "invert" : "select";
  out.Lines.push_back(std::string("action: ") + action + " the entries that pass" +
                      (v.ClearFirst != 0 ? ", after clearing every mark" : ""));
}

}  // namespace

std::string GroupedNumber(uint64_t value) {
  std::string digits = std::to_string(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

CriteriaReading ReadCriteria(const DialogResult& confirmed, const TimeServices& clock) {
  CriteriaReading out;
  SelectionCriteria criteria{};
  ParseCriteria(confirmed.SizeText, confirmed.DateText, confirmed.TimeText, clock, criteria);
  ReadMask(confirmed.Mask, out);
  ReadSize(confirmed.SizeText, criteria, out);
  ReadDate(confirmed.DateText, criteria, clock, out);
  ReadTime(confirmed.TimeText, criteria, out);
  ReadAttributesAndAction(confirmed.Values, out);
  return out;
}

}  // namespace marlit::console
