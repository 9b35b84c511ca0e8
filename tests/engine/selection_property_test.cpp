// Properties of parsing and of the selection pass over random panels and
// random criteria, from a fixed seed so that a failure repeats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "engine/criteria.h"
#include "engine/selection.h"
#include "support/fake_clock.h"
#include "support/panel.h"
#include "support/wildcard.h"

namespace marlit {
namespace {

constexpr int kRounds = 300;

struct Random {
  std::mt19937_64 engine{20261208};
  uint64_t Below(uint64_t n) { return std::uniform_int_distribution<uint64_t>(0, n - 1)(engine); }
  bool Coin() { return Below(2) == 1; }
  template <typename T, size_t N>
  const T& Pick(const T (&choices)[N]) {
    return choices[Below(N)];
  }
};

uint64_t RandomStamp(Random& r) {
  switch (r.Below(10)) {
    case 0:
      return r.Below(uint64_t{1} << 40);  // the first days after 1601
    case 1:
      return (uint64_t{1} << 63) + r.Below(1000);  // no time stamp at all
    default:                                       // 2019 to 2031, where the criteria below reach
      return test::Stamp(2019, 1, 1) + r.Below(13 * 365 * kTicksPerDay);
  }
}

PluginPanelItem RandomItem(Random& r) {
  static const char* const kNames[] = {"a.txt",   "B.TXT",      "c.log",         "noext",
                                       ".hidden", "dir\\x.txt", "long.name.dat", "z"};
  test::ItemWanted wanted{r.Pick(kNames)};
  static const uint64_t kSizes[] = {
      0, 1, 1023, 1024, 10240, 1 << 20, 3ull << 30, (4ull << 30) + 1, ~uint64_t{0}};
  wanted.Size = r.Coin() ? r.Pick(kSizes) : r.Below(1 << 22);
  wanted.Attributes = static_cast<uint32_t>(r.Below(1 << 12));
  wanted.Written = RandomStamp(r);
  wanted.Flags = r.Coin() ? static_cast<uint32_t>(r.engine()) : 0;
  PluginPanelItem item = test::MakeItem(wanted);
  item.FindData.ftCreationTime = FileTimeOf(RandomStamp(r));
  item.FindData.ftLastAccessTime = FileTimeOf(RandomStamp(r));
  return item;
}

std::vector<PluginPanelItem> RandomPanel(Random& r) {
  std::vector<PluginPanelItem> items(r.Below(40));
  for (PluginPanelItem& item : items) item = RandomItem(r);
  return items;
}

SelectionCriteria RandomCriteria(Random& r, const TimeServices& clock) {
  static const char* const kSizes[] = {"",     "0", "1k", "..1k",   "1k..1m", "2g..",
                                       "..4g", "x", "10", "1m..1k", ".."};
  static const char* const kDates[] = {"",           "15",    "-6-",     "1-1-20..",
                                       "..31-12-25", "1-3..", "..-2-24", "31-4-25..",
                                       "1.1.99",     "--24",  ".."};
  static const char* const kTimes[] = {"",      "10",   ":30",  "10:00..12:00",
                                       "22..2", "..12", "12..", ".."};
  static const char* const kMasks[] = {"*.*", "*.txt", "*", "?", "*.log"};
  SelectionCriteria c{};
  ParseCriteria(r.Pick(kSizes), r.Pick(kDates), r.Pick(kTimes), clock, c);
  std::strncpy(c.Mask, r.Pick(kMasks), sizeof c.Mask - 1);
  for (int bit = 0; bit < kAttributeCount; ++bit) {
    c.InAttr[bit] = r.Below(4) == 0;
    c.ExAttr[bit] = r.Below(4) == 0;
  }
  c.Mode = static_cast<SelectionAction>(r.Below(4));
  c.ClearFirst = r.Coin();
  return c;
}

std::vector<uint32_t> Pass(std::vector<PluginPanelItem> items, const SelectionCriteria& c,
                           const TimeServices& clock) {
  PanelInfo panel = test::PanelOf(items);
  SelectionPass(panel, c, test::TestCmpName, clock);
  std::vector<uint32_t> flags;
  for (const PluginPanelItem& item : items) flags.push_back(uint32_t{item.Flags});
  return flags;
}

TEST(SelectionProperties, EachOutcomeDependsOnlyOnItsItem) {
  Random r;
  for (int round = 0; round < kRounds; ++round) {
    const TimeServices clock = test::FixedClock(static_cast<int>(r.Below(27 * 60)) - 12 * 60);
    const std::vector<PluginPanelItem> items = RandomPanel(r);
    const SelectionCriteria c = RandomCriteria(r, clock);
    const std::vector<uint32_t> flags = Pass(items, c, clock);

    std::vector<size_t> order(items.size());
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), r.engine);
    std::vector<PluginPanelItem> shuffled;
    for (size_t i : order) shuffled.push_back(items[i]);
    const std::vector<uint32_t> shuffledFlags = Pass(shuffled, c, clock);
    for (size_t k = 0; k < order.size(); ++k) {
      ASSERT_EQ(shuffledFlags[k], flags[order[k]]) << "round " << round;
    }
    // Alone on a panel, or with the other items replaced, an item ends alike.
    for (size_t i = 0; i < items.size(); ++i) {
      std::vector<PluginPanelItem> others = RandomPanel(r);
      others.push_back(items[i]);
      ASSERT_EQ(Pass(others, c, clock).back(), flags[i]) << "round " << round;
    }
  }
}

TEST(SelectionProperties, ActionsComposeAsFlagsShould) {
  Random r;
  for (int round = 0; round < kRounds; ++round) {
    const TimeServices clock = test::FixedClock(static_cast<int>(r.Below(241)) - 120);
    const std::vector<PluginPanelItem> items = RandomPanel(r);
    std::vector<uint32_t> original;
    for (const PluginPanelItem& item : items) original.push_back(uint32_t{item.Flags});
    SelectionCriteria c = RandomCriteria(r, clock);
    c.ClearFirst = false;

    c.Mode = SelectionAction::Invert;
    std::vector<PluginPanelItem> twice = items;
    PanelInfo panel = test::PanelOf(twice);
    SelectionPass(panel, c, test::TestCmpName, clock);
    SelectionPass(panel, c, test::TestCmpName, clock);
    for (size_t i = 0; i < items.size(); ++i) ASSERT_EQ(uint32_t{twice[i].Flags}, original[i]);

    c.Mode = SelectionAction::Select;
    const std::vector<uint32_t> once = Pass(items, c, clock);
    std::vector<PluginPanelItem> again = items;
    PanelInfo againPanel = test::PanelOf(again);
    SelectionPass(againPanel, c, test::TestCmpName, clock);
    EXPECT_EQ(Pass(again, c, clock), once);

    c.ClearFirst = true;
    const std::vector<uint32_t> selected = Pass(items, c, clock);
    c.Mode = SelectionAction::Invert;
    EXPECT_EQ(Pass(items, c, clock), selected);
    for (uint32_t f : selected) ASSERT_TRUE(f == 0 || f == PPIF_SELECTED);
  }
}

TEST(SelectionProperties, OnlyFlagsChangeAndOnlyTheLastWriteCounts) {
  Random r;
  for (int round = 0; round < kRounds; ++round) {
    const TimeServices clock = test::FixedClock(static_cast<int>(r.Below(241)) - 120);
    std::vector<PluginPanelItem> items = RandomPanel(r);
    const SelectionCriteria c = RandomCriteria(r, clock);
    const std::vector<PluginPanelItem> before = items;
    PanelInfo panel = test::PanelOf(items);
    SelectionPass(panel, c, test::TestCmpName, clock);
    for (size_t i = 0; i < items.size(); ++i) {
      PluginPanelItem restored = items[i];
      restored.Flags = before[i].Flags;
      ASSERT_EQ(std::memcmp(&restored, &before[i], sizeof restored), 0) << "round " << round;
    }
    std::vector<PluginPanelItem> retimed = before;
    for (PluginPanelItem& item : retimed) {
      item.FindData.ftCreationTime = FileTimeOf(RandomStamp(r));
      item.FindData.ftLastAccessTime = FileTimeOf(RandomStamp(r));
    }
    std::vector<uint32_t> flags;
    for (const PluginPanelItem& item : items) flags.push_back(uint32_t{item.Flags});
    EXPECT_EQ(Pass(retimed, c, clock), flags) << "round " << round;
  }
}

std::string RandomText(Random& r) {
  static const char kAlphabet[] = "0123456789..--//:: kKmMgGx\xff";
  std::string text(r.Below(r.Coin() ? 12 : 512), '\0');
  for (char& ch : text) {
    ch = r.Below(8) == 0 ? static_cast<char>(r.Below(256))
                         : kAlphabet[r.Below(sizeof kAlphabet - 1)];
  }
  return text;
}

TEST(ParseProperties, AnyTextGivesAKindAndExactValuesStayUncompleted) {
  Random r;
  const TimeServices clock = test::FixedClock(0);
  for (int round = 0; round < 20 * kRounds; ++round) {
    const std::string size = RandomText(r), date = RandomText(r), time = RandomText(r);
    SelectionCriteria c{};
    ParseCriteria(size, date, time, clock, c);
    for (RangeKind kind : {c.SizeKind, c.DateKind, c.TimeKind}) {
      ASSERT_GE(static_cast<int>(kind), 0);
      ASSERT_LE(static_cast<int>(kind), 4);
    }
    if (c.DateKind == RangeKind::Exact) {
      SYSTEMTIME parsed{};
      ParseDate(date, parsed);
      ASSERT_EQ(std::memcmp(&parsed, &c.DateFrom, sizeof parsed), 0) << date;
    }
    if (c.TimeKind == RangeKind::Exact) {
      SYSTEMTIME parsed{};
      ParseTime(time, parsed);
      ASSERT_EQ(std::memcmp(&parsed, &c.TimeFrom, sizeof parsed), 0) << time;
      ASSERT_EQ(c.TimeFrom.wSecond, NotGiven);
    }
    if (c.SizeKind == RangeKind::None) {
      ASSERT_TRUE(c.SizeFrom == -1 && c.SizeTo == -1);
    }
  }
}

}  // namespace
}  // namespace marlit
