// The selection pass over panels of made-up items.
#include "engine/selection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/fake_clock.h"
#include "support/panel.h"
#include "support/wildcard.h"

namespace marlit {
namespace {

using test::ItemWanted;
using test::MakeItem;
using test::Stamp;

using namespace marlit::test::attr;
constexpr uint32_t SEL = PPIF_SELECTED;

// Criteria as a confirmed dialog gives them; attribute sets as bit masks in
// the stored bit order (bit 0 archive ... bit 5 compressed).
struct DialogInput {
  std::string Size, Date, Time;
  std::string Mask = "*.*";
  uint32_t In = 0, Ex = 0;
  SelectionAction Mode = SelectionAction::Select;
  bool ClearFirst = false;
};

SelectionCriteria CriteriaOf(const DialogInput& input, const TimeServices& clock) {
  SelectionCriteria c{};
  ParseCriteria(input.Size, input.Date, input.Time, clock, c);
  std::strncpy(c.Mask, input.Mask.c_str(), sizeof c.Mask - 1);
  for (int bit = 0; bit < kAttributeCount; ++bit) {
    c.InAttr[bit] = (input.In >> bit & 1) != 0;
    c.ExAttr[bit] = (input.Ex >> bit & 1) != 0;
  }
  c.Mode = input.Mode;
  c.ClearFirst = input.ClearFirst;
  return c;
}

constexpr uint32_t BitArchive = 1 << 0, BitReadOnly = 1 << 1, BitHidden = 1 << 2,
                   BitSystem = 1 << 3, BitDirectory = 1 << 4, BitCompressed = 1 << 5;

std::vector<uint32_t> FlagsAfter(std::vector<PluginPanelItem> items, const DialogInput& input,
                                 int biasMinutes = 0) {
  const TimeServices clock = test::FixedClock(biasMinutes);
  PanelInfo panel = test::PanelOf(items);
  SelectionPass(panel, CriteriaOf(input, clock), test::TestCmpName, clock);
  std::vector<uint32_t> flags;
  for (const PluginPanelItem& item : items) flags.push_back(uint32_t{item.Flags});
  return flags;
}

// Which items pass: select with clear-first on, so a passing item ends with
// exactly PPIF_SELECTED and a failing one with 0.
std::string Passing(const std::vector<PluginPanelItem>& items, DialogInput input,
                    int biasMinutes = 0) {
  input.Mode = SelectionAction::Select;
  input.ClearFirst = true;
  std::string out;
  for (uint32_t f : FlagsAfter(items, input, biasMinutes)) out += f == SEL ? '1' : '0';
  return out;
}

TEST(SelectionPass, EmptyPanelTestsNothing) {
  std::vector<PluginPanelItem> none;
  PanelInfo panel = test::PanelOf(none);
  DialogInput input;
  input.ClearFirst = true;
  test::g_cmpNameCalls = 0;
  const TimeServices clock = test::FixedClock(0);
  SelectionPass(panel, CriteriaOf(input, clock), test::TestCmpName, clock);
  panel.ItemsNumber = -3;
  SelectionPass(panel, CriteriaOf(input, clock), test::TestCmpName, clock);
  EXPECT_EQ(test::g_cmpNameCalls, 0);
}

TEST(SelectionPass, NegativeCountLeavesItemsAlone) {
  std::vector<PluginPanelItem> items = {MakeItem({"a.txt", 0, 0, 0, 0x5})};
  PanelInfo panel = test::PanelOf(items);
  panel.ItemsNumber = -1;
  DialogInput input;
  input.ClearFirst = true;
  const TimeServices clock = test::FixedClock(0);
  SelectionPass(panel, CriteriaOf(input, clock), test::TestCmpName, clock);
  EXPECT_EQ(uint32_t{items[0].Flags}, 0x5u);
}

// Items with other flag bits and a prior selection: a.txt passes (*.txt),
// b.log fails.
std::vector<PluginPanelItem> FlaggedPair() {
  return {MakeItem({"a.txt", 0, 0, 0, SEL | 0x3}), MakeItem({"b.log", 0, 0, 0, SEL | 0x4}),
          MakeItem({"c.txt", 0, 0, 0, 0x8}), MakeItem({"d.log", 0, 0, 0, 0x10})};
}

TEST(SelectionPass, ActionsOnFlags) {
  struct Row {
    SelectionAction Mode;
    bool ClearFirst;
    std::vector<uint32_t> Flags;
  } const rows[] = {
      {SelectionAction::Select, false, {SEL | 0x3, SEL | 0x4, SEL | 0x8, 0x10}},
      {SelectionAction::Deselect, false, {0, SEL | 0x4, 0, 0x10}},
      {SelectionAction::Invert, false, {0x3, SEL | 0x4, SEL | 0x8, 0x10}},
      {SelectionAction::Select, true, {SEL, 0, SEL, 0}},
      {SelectionAction::Invert, true, {SEL, 0, SEL, 0}},
      {SelectionAction::Deselect, true, {0, 0, 0, 0}},
      // Any other action acts as select.
      {static_cast<SelectionAction>(7), false, {SEL | 0x3, SEL | 0x4, SEL | 0x8, 0x10}},
      {static_cast<SelectionAction>(-1), true, {SEL, 0, SEL, 0}},
  };
  for (const Row& r : rows) {
    DialogInput input;
    input.Mask = "*.txt";
    input.Mode = r.Mode;
    input.ClearFirst = r.ClearFirst;
    EXPECT_EQ(FlagsAfter(FlaggedPair(), input), r.Flags)
        << "mode " << static_cast<int>(r.Mode) << " clear " << r.ClearFirst;
  }
}

TEST(SelectionPass, MaskThatMatchesNothing) {
  DialogInput input;
  input.Mask = "*.none";
  EXPECT_EQ(FlagsAfter(FlaggedPair(), input),
            (std::vector<uint32_t>{SEL | 0x3, SEL | 0x4, 0x8, 0x10}));
  input.ClearFirst = true;
  EXPECT_EQ(FlagsAfter(FlaggedPair(), input), (std::vector<uint32_t>{0, 0, 0, 0}));
}

std::vector<std::string> g_patterns;
int MARLIT_WINAPI RecordingCmpName(const char* pattern, const char* name, int skipPath) {
  g_patterns.emplace_back(pattern);
  EXPECT_EQ(skipPath, 1);
  EXPECT_STREQ(name, "dir\\x.txt");
  return 0;
}

// A mask without list syntax reaches the host byte for byte; a list, one
// pattern at a time, each pattern of one pass split once.
TEST(SelectionPass, MaskGoesToTheHostPatternByPattern) {
  std::vector<PluginPanelItem> items = {MakeItem({"dir\\x.txt"})};
  PanelInfo panel = test::PanelOf(items);
  const TimeServices clock = test::FixedClock(0);
  SelectionCriteria c = CriteriaOf(DialogInput{}, clock);
  const struct {
    const char* Mask;
    std::vector<std::string> Asked;
  } rows[] = {
      {"*.*", {"*.*"}},
      {" a* b? ", {" a* b? "}},
      {" a*, b?|c ", {"a*", "b?"}},  // no include matched: the exclusion is not asked
      {"|c;d", {"c", "d"}},
  };
  for (const auto& row : rows) {
    g_patterns.clear();
    std::strncpy(c.Mask, row.Mask, sizeof c.Mask - 1);
    SelectionPass(panel, c, RecordingCmpName, clock);
    EXPECT_EQ(g_patterns, row.Asked) << row.Mask;
  }
}

// Sizes: 0, 1023, 1024, 2048, 3 GiB, 4 GiB + 1.
std::vector<PluginPanelItem> SizedItems() {
  const uint64_t sizes[] = {0, 1023, 1024, 2048, 3ull << 30, (4ull << 30) + 1};
  std::vector<PluginPanelItem> items;
  for (uint64_t s : sizes) items.push_back(MakeItem({"f", s}));
  return items;
}

TEST(SelectionPass, Sizes) {
  struct Row {
    const char* Size;
    const char* Passing;
  } const rows[] = {
      {"", "111111"},
      {"0", "100000"},
      {"1k", "001000"},
      {"..0", "100000"},  // the empty files
      {"1k..", "001111"},
      {"..1k", "111000"},
      {"1023..2k", "011100"},
      {"2k..1k", "000000"},  // lower above upper
      {"..", "000000"},      // empty upper text: -1
      {"1k..x", "000000"},   // upper without digits: 0
      {"1g..", "000011"},
      {"1073741824..", "000011"},
      {"3g", "000010"},
      {"..4g", "111110"},
      {"2g..", "000011"},
      {"4096m..", "000001"},
      {"4294967297", "000001"},
      {"99999999999999999999g", "000000"},
      {"..99999999999999999999g", "111111"},
  };
  for (const Row& r : rows) {
    DialogInput input;
    input.Size = r.Size;
    EXPECT_EQ(Passing(SizedItems(), input), r.Passing) << '"' << r.Size << '"';
  }
}

// Attributes: archive, hidden, hidden+system, read-only, directory, none,
// compressed, hidden+archive.
std::vector<PluginPanelItem> AttributedItems() {
  const uint32_t attrs[] = {A, H, H | S, R, D, 0, C, H | A};
  std::vector<PluginPanelItem> items;
  for (uint32_t a : attrs) items.push_back(MakeItem({"f", 0, a}));
  return items;
}

TEST(SelectionPass, Attributes) {
  struct Row {
    uint32_t In, Ex;
    const char* Passing;
  } const rows[] = {
      {0, 0, "11111111"},
      {BitArchive | BitHidden, 0, "11100001"},
      {BitHidden, 0, "01100001"},
      {0, BitHidden, "10011110"},
      {0, BitHidden | BitSystem, "11011111"},
      {BitDirectory, 0, "00001000"},
      {0, BitDirectory, "11110111"},
      {BitHidden, BitHidden, "00000000"},
      {BitReadOnly | BitCompressed, 0, "00010010"},
      {0, BitArchive | BitHidden, "11111110"},
      {BitSystem, BitDirectory, "00100000"},
  };
  for (const Row& r : rows) {
    DialogInput input;
    input.In = r.In;
    input.Ex = r.Ex;
    EXPECT_EQ(Passing(AttributedItems(), input), r.Passing) << "in " << r.In << " ex " << r.Ex;
  }
}

// One item written at 23:30 UTC on 31 December 2025.
std::vector<PluginPanelItem> NewYearItem() {
  return {MakeItem({"f", 0, 0, Stamp(2025, 12, 31, 23, 30)})};
}

TEST(SelectionPass, LocalZone) {
  struct Row {
    const char* Date;
    const char* Time;
    int BiasMinutes;
    const char* Passing;
  } const rows[] = {
      // UTC+2: the item counts as written at 01:30 on 1 January 2026.
      {"31-12", "", 120, "0"},
      {"1-1", "", 120, "1"},
      {"1-1-26", "", 120, "1"},
      {"", "..2:00", 120, "1"},
      {"", "23:00..", 120, "0"},
      {"", "1:30", 120, "1"},
      {"1-1-26..", "", 120, "1"},
      // UTC-2: 21:30 on 31 December 2025.
      {"1-1-26..", "", -120, "0"},
      {"31-12-25", "", -120, "1"},
      {"", "21", -120, "1"},
      {"", "..21:29", -120, "0"},
      // UTC itself.
      {"31-12-25", "23:30", 0, "1"},
  };
  for (const Row& r : rows) {
    DialogInput input;
    input.Date = r.Date;
    input.Time = r.Time;
    EXPECT_EQ(Passing(NewYearItem(), input, r.BiasMinutes), r.Passing)
        << r.Date << " / " << r.Time << " at bias " << r.BiasMinutes;
  }
}

TEST(SelectionPass, DaylightSavingUsesTheBiasInForceNow) {
  // The Windows rule, one bias for every stamp: written at 12:00 UTC in July;
  // tested in January in a zone of UTC+1 (UTC+2 in summer): the bias now is
  // +1, so it counts as 13:00.
  const std::vector<PluginPanelItem> items = {MakeItem({"f", 0, 0, Stamp(2026, 7, 15, 12, 0)})};
  DialogInput input;
  input.Time = "13";
  EXPECT_EQ(Passing(items, input, 60), "1");
  input.Time = "14";
  EXPECT_EQ(Passing(items, input, 60), "0");
}

// Written on 5 March 2024 at 10:30:20 and on 17 June 2025 at 22:05:00 (UTC,
// tested at bias 0).
std::vector<PluginPanelItem> TwoDays() {
  return {MakeItem({"f", 0, 0, Stamp(2024, 3, 5, 10, 30, 20)}),
          MakeItem({"g", 0, 0, Stamp(2025, 6, 17, 22, 5, 0)})};
}

TEST(SelectionPass, DatesAndTimes) {
  struct Row {
    const char* Date;
    const char* Time;
    const char* Passing;
  } const rows[] = {
      {"5", "", "10"},     // day 5 of any month of any year
      {"-6-", "", "01"},   // any day of June
      {"--24", "", "10"},  // any day of 2024
      {"5-3-24", "", "10"},      {"17-6-25", "", "01"},
      {"31-4-25", "", "00"},   // no such day: no item has it
      {"5-3-24..", "", "11"},  // the bound's own day is included
      {"..5-3-24", "", "10"},    {"6-3-24..17-6-25", "", "01"},
      {"1-1-30..", "", "00"},    {"..31-12-23", "", "00"},
      {"", "10", "10"},  // any minute of hour 10
      {"", ":5", "01"},  // minute 5 of any hour
      {"", ":30", "10"},         {"", "10:30", "10"},
      {"", "10:31", "00"},       {"", "10:30..", "11"},
      {"", "10:31..", "01"},     {"", "..10:30", "10"},  // up to 10:30 includes 10:30:59
      {"", "..10:29", "00"},     {"", "22:05..22:05", "01"},
      {"", "22:00..2:00", "00"},  // no wrap past midnight
      {"", "11..21", "00"},      {"5-3-24", "22", "00"},
      {"..-6-25", "22..", "01"},
  };
  for (const Row& r : rows) {
    DialogInput input;
    input.Date = r.Date;
    input.Time = r.Time;
    EXPECT_EQ(Passing(TwoDays(), input), r.Passing) << '"' << r.Date << "\" / \"" << r.Time << '"';
  }
}

TEST(SelectionPass, ItemOnABoundPassesBothEnds) {
  const std::vector<PluginPanelItem> items = {MakeItem({"f", 0, 0, Stamp(2024, 3, 5)}),
                                              MakeItem({"g", 0, 0, Stamp(2024, 3, 5, 23, 59, 59)})};
  const TimeServices clock = test::FixedClock(0);
  DialogInput input;
  input.Date = "5-3-24..";
  EXPECT_EQ(Passing(items, input), "11");
  input.Date = "..5-3-24";
  EXPECT_EQ(Passing(items, input), "11");
  // The same through the item tests and a bound at exactly the item's stamp.
  const DateBound bound{true, Stamp(2024, 3, 5)};
  const ItemWriteTime written{true, Stamp(2024, 3, 5), {}};
  EXPECT_TRUE(DateNotBefore(bound, written));
  EXPECT_TRUE(DateNotAfter(bound, written));
  (void)clock;
}

// The last day of a range counts to its very end, the first day of the next
// range begins at midnight, and nothing falls between them; time-of-day bounds
// take whole seconds as well. Items: 2024-03-31 23:59:59.5 and .9999999,
// 2024-04-01 00:00:00, 2024-02-29 23:59:59 and 2024-03-01 00:00:00.
TEST(SelectionPass, BoundsTakeInTheirWholeLastSecond) {
  const uint64_t last = Stamp(2024, 3, 31, 23, 59, 59);
  const std::vector<PluginPanelItem> items = {MakeItem({"f", 0, 0, last + kTicksPerSecond / 2}),
                                              MakeItem({"g", 0, 0, last + 9'999'999}),
                                              MakeItem({"h", 0, 0, Stamp(2024, 4, 1)}),
                                              MakeItem({"i", 0, 0, Stamp(2024, 2, 29, 23, 59, 59)}),
                                              MakeItem({"j", 0, 0, Stamp(2024, 3, 1)})};
  const struct {
    const char *Date, *Time, *Passing;
  } rows[] = {
      {"..31-3-24", "", "11011"},  {"1-4-24..", "", "00100"},  {"31-3-24", "", "11000"},
      {"-3-24..", "", "11101"},    {"..-3-24", "", "11011"},   {"1-3-24..31-3-24", "", "11001"},
      {"", "..23:59", "11111"},    {"", "23:59", "11010"},     {"", "23:59..", "11010"},
      {"1-1-2024..", "", "11111"}, {"31-3-2024", "", "11000"}, {"..29-2-2024", "", "00010"},
  };
  for (const auto& r : rows) {
    DialogInput input;
    input.Date = r.Date;
    input.Time = r.Time;
    EXPECT_EQ(Passing(items, input), r.Passing) << r.Date << " / " << r.Time;
  }
}

TEST(SelectionPass, DateBoundThatIsNoCalendarDatePassesNothing) {
  const char* const texts[] = {"31-4-25..",       "..31-4-25", "1-13-25..", "..0-5-25",
                               "1-1-25..31-4-25", "29-2-25..", "1.1.99"};
  for (const char* text : texts) {
    DialogInput input;
    input.Date = text;
    EXPECT_EQ(Passing(TwoDays(), input), "00") << text;
  }
}

TEST(SelectionPass, UnconvertibleStampFailsDateAndTimeOnly) {
  const std::vector<PluginPanelItem> items = {
      MakeItem({"f", 0, 0, uint64_t{1} << 63}), MakeItem({"g", 0, 0, ~uint64_t{0}}),
      MakeItem({"h", 0, 0, 0})};  // 1601-01-01 00:00 UTC: shifted west it leaves the range
  DialogInput input;
  EXPECT_EQ(Passing(items, input, -120), "111");
  const char* const dates[] = {"..", "1-1-1601..", "1", "-1-"};
  for (const char* d : dates) {
    input.Date = d;
    EXPECT_EQ(Passing(items, input, -120), "000") << d;
  }
  input.Date = "";
  input.Time = "..";
  EXPECT_EQ(Passing(items, input, -120), "000");
  EXPECT_EQ(Passing(items, input, 120), "001");
}

TEST(SelectionPass, OnlyFlagsChange) {
  std::vector<PluginPanelItem> items = {
      MakeItem({"a.txt", 5000, A | H, Stamp(2024, 3, 5, 10), 0x7}),
      MakeItem({"b.txt", 10, D, Stamp(2025, 3, 5, 10), SEL})};
  items[0].FindData.ftCreationTime = FileTimeOf(123);
  items[1].FindData.ftLastAccessTime = FileTimeOf(456);
  const std::vector<PluginPanelItem> before = items;
  DialogInput input;
  input.Size = "..10k";
  input.Date = "1-1-24..";
  input.Time = "9..11";
  input.Mode = SelectionAction::Invert;
  const TimeServices clock = test::FixedClock(0);
  PanelInfo panel = test::PanelOf(items);
  SelectionPass(panel, CriteriaOf(input, clock), test::TestCmpName, clock);
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_NE(uint32_t{items[i].Flags}, uint32_t{before[i].Flags});
    PluginPanelItem restored = items[i];
    restored.Flags = before[i].Flags;
    EXPECT_EQ(std::memcmp(&restored, &before[i], sizeof restored), 0);
  }
}

TEST(SelectionPass, CreationAndAccessTimesDoNotMatter) {
  std::vector<PluginPanelItem> items = TwoDays();
  DialogInput input;
  input.Date = "5-3-24";
  input.Time = "10";
  const std::string expected = Passing(items, input);
  for (PluginPanelItem& item : items) {
    item.FindData.ftCreationTime = FileTimeOf(Stamp(2025, 6, 17, 22));
    item.FindData.ftLastAccessTime = FileTimeOf(~uint64_t{0});
  }
  EXPECT_EQ(Passing(items, input), expected);
  EXPECT_EQ(expected, "10");
}

}  // namespace
}  // namespace marlit
