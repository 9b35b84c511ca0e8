// How the console host tells the reading of the criteria (--explain) and
// warns about readings a person probably did not mean.
#include "console/cli/explain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/labels.h"
#include "platform/text.h"
#include "support/fake_clock.h"

namespace marlit::console {
namespace {

using marlit::test::Label;
using marlit::test::RowName;

struct ReadingCase {
  const char* Field;  // mask, size, date or time
  const char* Text;
  const char* Line;                   // the field's line, whole
  std::vector<const char*> Warnings;  // part of each warning, in order
};

std::string RowLabel(const ReadingCase& c) { return Label(c.Field) + "_" + Label(c.Text); }

class Readings : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(Readings, TellTheLineAndTheWarnings) {
  const ReadingCase& c = GetParam();
  DialogResult confirmed{};
  CopyText(confirmed.Mask, sizeof confirmed.Mask, "*.*");
  const std::string field = c.Field;
  char* const text = field == "mask"   ? confirmed.Mask
                     : field == "size" ? confirmed.SizeText
                     : field == "date" ? confirmed.DateText
                                       : confirmed.TimeText;
  CopyText(text, kDialogTextSize, c.Text);
  const CriteriaReading reading = ReadCriteria(confirmed, marlit::test::FixedClock(0));
  const std::string prefix = field + ":";
  const auto line = std::find_if(reading.Lines.begin(), reading.Lines.end(),
                                 [&](const std::string& l) { return l.starts_with(prefix); });
  ASSERT_NE(line, reading.Lines.end());
  EXPECT_EQ(*line, c.Line);
  ASSERT_EQ(reading.Warnings.size(), c.Warnings.size())
      << (reading.Warnings.empty() ? "" : reading.Warnings[0]);
  for (size_t i = 0; i < c.Warnings.size(); ++i) {
    EXPECT_NE(reading.Warnings[i].find(c.Warnings[i]), std::string::npos) << reading.Warnings[i];
    EXPECT_TRUE(reading.Warnings[i].starts_with(field + " '" + c.Text + "': "));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Readings,
    ::testing::Values(
        ReadingCase{"size", "50k..", "size: from 51,200 bytes, no upper bound", {}},
        ReadingCase{"size", "10 KB", "size: exactly 10,240 bytes", {}},
        ReadingCase{"size", "1k..2m", "size: from 1,024 to 2,097,152 bytes", {}},
        ReadingCase{"size", "..1g", "size: up to 1,073,741,824 bytes", {}},
        ReadingCase{"size", "abc", "size: exactly 0 bytes", {"does not start with a digit"}},
        ReadingCase{"size", "-5", "size: exactly 0 bytes", {"does not start with a digit"}},
        ReadingCase{"size", "1mk", "size: exactly 1,024 bytes", {"is read as 1,024 bytes"}},
        ReadingCase{"size", "..", "size: none (the upper bound is empty)", {"has no bounds"}},
        ReadingCase{"size",
                    "5.7",
                    "size: none (the upper bound is empty)",
                    {"and the '7' beside it is dropped", "the upper bound is empty"}},
        ReadingCase{"size",
                    "5.",
                    "size: any (a range without bounds)",
                    {"the '5' beside it", "every size passes"}},
        ReadingCase{"size", "2k..1k", "size: from 2,048 to 1,024 bytes", {"above the upper"}},
        ReadingCase{"size", "1k..1k", "size: from 1,024 to 1,024 bytes", {}},
        ReadingCase{"date",
                    "1-3-24..31-12-26",
                    "date: 1 Mar 2024 00:00 to 31 Dec 2026 end of day, local time",
                    {}},
        ReadingCase{"date", "-6-", "date: any day of Jun in any year, local time", {}},
        ReadingCase{"date", "1-3..", "date: from 1 Mar 2026 00:00, no upper bound, local time", {}},
        ReadingCase{"date", "..-2-", "date: up to 28 Feb 2026 end of day, local time", {}},
        ReadingCase{"date",
                    "31-4-24..",
                    "date: from 31 Apr 2024 00:00, no upper bound, local time",
                    {"the lower bound, 31 Apr 2024 00:00, is no calendar date"}},
        ReadingCase{"date",
                    "1.1.99",
                    "date: 1 Jan 2026 00:00 to 31 month 99 2026 end of day, local time",
                    {"write dates with '-' or '/'", "the upper bound, 31 month 99 2026"}},
        ReadingCase{"date", "1-2-3-4", "date: 1 Feb 2003, local time", {"from '4' on"}},
        ReadingCase{"date", "15-6-24x", "date: 15 Jun 2024, local time", {"from 'x' on"}},
        ReadingCase{
            "date", "abc", "date: any (no day, month or year given)", {"the text has no digits"}},
        ReadingCase{"date",
                    "30-2",
                    "date: day 30 of Feb in any year, local time",
                    {"there is no day 30 in Feb"}},
        ReadingCase{"date", "29-2", "date: day 29 of Feb in any year, local time", {}},
        ReadingCase{"date", "1-1-1601", "date: 1 Jan 1601, local time", {}},
        ReadingCase{"date", "1-13-24", "date: 1 month 13 2024, local time", {"no month 13"}},
        ReadingCase{"date",
                    "1-3-24..1-1-24",
                    "date: 1 Mar 2024 00:00 to 1 Jan 2024 end of day, local time",
                    {"the lower bound is after the upper one"}},
        ReadingCase{"time", "8:00..17:30", "time: 08:00:00 to 17:30:59 of any day, local time", {}},
        ReadingCase{
            "time", "23:00..23:30", "time: 23:00:00 to 23:30:59 of any day, local time", {}},
        ReadingCase{"time", ":30", "time: minute 30 of any hour, local time", {}},
        ReadingCase{"time",
                    "22:00..2:00",
                    "time: 22:00:00 to 02:00:59 of any day, local time",
                    {"does not run past midnight"}},
        ReadingCase{"time", "10h30", "time: any minute of hour 10, local time", {"from 'h30' on"}},
        ReadingCase{
            "time", "10:30:45", "time: 10:30 (the whole minute), local time", {"from ':45' on"}},
        ReadingCase{
            "time", " 10:30", "time: any (no hour or minute given)", {"the text has no digits"}},
        ReadingCase{"time", "25", "time: any minute of hour 25, local time", {"no hour 25"}},
        ReadingCase{"time",
                    "..30",
                    "time: from the start of the day up to 30:59:59, local time",
                    {"every time of day is below it"}},
        ReadingCase{"time",
                    "9:90..",
                    "time: from 09:90:00 to the end of the day, local time",
                    {"it counts as 10:30:00"}},
        ReadingCase{"time",
                    "24:00..",
                    "time: from 24:00:00 to the end of the day, local time",
                    {"no time passes"}},
        ReadingCase{"mask", "*.*|*.bak, *.tmp", "mask: every name; none of '*.bak', '*.tmp'", {}},
        ReadingCase{"mask", "*.c,*.h", "mask: any of '*.c', '*.h'", {}},
        ReadingCase{"mask", "[!a]*", "mask: any of '[!a]*'", {"no negation"}}),
    RowName());

TEST(Reading, TellsAttributesAndAction) {
  DialogResult confirmed{};
  confirmed.Values.InAttr = 0b000101;  // archive, hidden
  confirmed.Values.ExAttr = 0b010000;  // directory
  confirmed.Values.Mode = 2;
  confirmed.Values.ClearFirst = 1;
  const CriteriaReading reading = ReadCriteria(confirmed, marlit::test::FixedClock(0));
  const std::vector<std::string> tail(reading.Lines.end() - 2, reading.Lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "attributes: at least one of archive, hidden; not all of directory",
                      "action: invert the entries that pass, after clearing every mark"}));
  EXPECT_EQ(reading.Lines.size(), 6u);
  EXPECT_TRUE(reading.Warnings.empty());
}

TEST(Reading, GroupsThousands) {
  EXPECT_EQ(GroupedNumber(0), "0");
  EXPECT_EQ(GroupedNumber(999), "999");
  EXPECT_EQ(GroupedNumber(1000), "1,000");
  EXPECT_EQ(GroupedNumber(9'223'372'036'854'775'807u), "9,223,372,036,854,775,807");
}

}  // namespace
}  // namespace marlit::console
