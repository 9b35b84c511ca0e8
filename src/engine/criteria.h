// Criterion expressions: the size, date and time texts of the selection
// dialog, and the record of one run's parsed criteria.
//
// Each text names one value (A), a range (A..B) or a range open at one end
// (A.., ..B). Texts are never rejected: whatever they hold yields values by
// fixed rules, and left-out components of a range are filled in.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/records.h"
#include "platform/clock.h"

namespace marlit {

// How a criterion text bounds its value.
enum class RangeKind : int32_t {
  None = 0,     // empty text: the criterion is not applied
  Exact = 1,    // no '.': one value, held in the lower bound
  Between = 2,  // A..B
  From = 3,     // A..
  UpTo = 4,     // ..B
};

// A date or time component the text leaves out.
constexpr uint16_t NotGiven = 0xFFFF;

// A size bound whose text is empty.
constexpr int64_t kNoSize = -1;

// The marking applied to a passing item; any other value acts as select.
enum class SelectionAction : int32_t {
  Select = 0,
  Deselect = 1,
  Invert = 2,
};

constexpr int kAttributeCount = 6;

// The criteria of one run, parsed once after the dialog was confirmed.
struct SelectionCriteria {
  char Mask[kDialogTextSize];  // a list of patterns, read by ReadMaskList
  RangeKind SizeKind;
  int64_t SizeFrom;  // bytes; kNoSize for an empty lower text
  int64_t SizeTo;    // bytes; kNoSize for an empty upper text
  RangeKind DateKind;
  SYSTEMTIME DateFrom;  // also the single value of Exact
  SYSTEMTIME DateTo;
  RangeKind TimeKind;
  SYSTEMTIME TimeFrom;  // also the single value of Exact
  SYSTEMTIME TimeTo;
  bool InAttr[kAttributeCount];  // include set, in attribute bit order
  bool ExAttr[kAttributeCount];  // exclude set
  SelectionAction Mode;
  bool ClearFirst;
};

// The two ends of a criterion text; views into the text.
struct SplitText {
  RangeKind Kind;
  std::string_view Lower;
  std::string_view Upper;
};

// Sets the nine range fields (SizeKind to TimeTo) from the three texts, read
// whole. The clock gives the current year for completed date bounds.
void ParseCriteria(std::string_view sizeText, std::string_view dateText, std::string_view timeText,
                   const TimeServices& clock, SelectionCriteria& criteria);

// Splits a text at its range mark. A range form drops two characters, which
// it expects to be "..", whatever they are.
SplitText SplitCriterion(std::string_view text);

// Leading decimal digits times the first multiplier letter found anywhere in
// the text (k, then m, then g); saturates at the largest 64-bit value.
int64_t ParseSize(std::string_view text);

// Sets wDay, wMonth and wYear of the bound (two- or four-digit years); other
// fields are left alone.
void ParseDate(std::string_view text, SYSTEMTIME& bound);

// Sets wHour, wMinute and wSecond (always NotGiven) of the bound; other fields
// are left alone.
void ParseTime(std::string_view text, SYSTEMTIME& bound);

// Fills the left-out components of ranged bounds: lower bounds start at the
// beginning of the range's unit, upper bounds end at its end.
void CompleteTimeBounds(RangeKind kind, SYSTEMTIME& from, SYSTEMTIME& to);
void CompleteDateBounds(RangeKind kind, SYSTEMTIME& from, SYSTEMTIME& to,
                        const TimeServices& clock);

// Days in the month (28 to 31); months outside 1..12 have 31.
uint16_t DaysInMonth(uint16_t month, uint16_t year);

// The local calendar year now.
uint16_t CurrentYear(const TimeServices& clock);

bool ContainsChar(std::string_view text, char c);

}  // namespace marlit
