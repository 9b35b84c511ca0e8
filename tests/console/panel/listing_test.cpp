// The console panel's records: the attribute mapping, time stamps and the
// names a record can hold.
#include "console/panel/listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "support/labels.h"
#include "support/panel.h"

namespace marlit::console {
namespace {

using marlit::test::Label;
using marlit::test::RowName;

using namespace marlit::test::attr;

struct MappingCase {
  const char* Name;
  uint32_t Mode;
  bool Compressed;
  uint32_t Expected;
};

std::string RowLabel(const MappingCase& c) {
  return Label(c.Name) + "_" + std::to_string(c.Mode) + (c.Compressed ? "_c" : "");
}

class AttributeMapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(AttributeMapping, FollowsTheRules) {
  const MappingCase& c = GetParam();
  EXPECT_EQ(AttributesOf(c.Name, c.Mode, c.Compressed), c.Expected) << c.Name;
}

INSTANTIATE_TEST_SUITE_P(Modes, AttributeMapping,
                         ::testing::Values(MappingCase{"file", S_IFREG | 0644, false, A},
                                           MappingCase{"file", S_IFREG | 0444, false, A | R},
                                           MappingCase{"file", S_IFREG | 0200, false, A},
                                           MappingCase{"file", S_IFREG | 0044, false,
                                                       A | R},  // group may write: no matter
                                           MappingCase{".file", S_IFREG | 0644, false, A | H},
                                           MappingCase{"file", S_IFREG | 0644, true, A | C},
                                           MappingCase{"dir", S_IFDIR | 0755, false, D},
                                           MappingCase{"dir", S_IFDIR | 0555, false, D | R},
                                           MappingCase{".git", S_IFDIR | 0755, true, D | H | C},
                                           MappingCase{"fifo", S_IFIFO | 0644, false, S},
                                           MappingCase{"sock", S_IFSOCK | 0755, false, S},
                                           MappingCase{"tty", S_IFCHR | 0620, false, S},
                                           MappingCase{"disk", S_IFBLK | 0440, false, S | R},
                                           MappingCase{"fifo", S_IFIFO | 0644, true,
                                                       S},  // only files and directories
                                           MappingCase{"link", S_IFLNK | 0777, false, 0},
                                           MappingCase{".link", S_IFLNK | 0777, true, H},
                                           MappingCase{"x.", S_IFREG | 0600, false, A},
                                           MappingCase{"", S_IFREG | 0600, false, A}),
                         RowName());

struct StampCase {
  int64_t Seconds;
  uint32_t Nanoseconds;
  uint64_t Expected;
};

std::string RowLabel(const StampCase& c) {
  return Label(std::to_string(c.Seconds)) + "_" + std::to_string(c.Nanoseconds);
}

class UnixTimeStamps : public ::testing::TestWithParam<StampCase> {};

TEST_P(UnixTimeStamps, CountFrom1601) {
  const StampCase& c = GetParam();
  EXPECT_EQ(StampOfUnixTime(c.Seconds, c.Nanoseconds), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, UnixTimeStamps,
    ::testing::Values(StampCase{0, 0, 116'444'736'000'000'000},                // 1970-01-01
                      StampCase{0, 99, 116'444'736'000'000'000},               // below 100 ns
                      StampCase{0, 999'999'999, 116'444'736'009'999'999},      // 100-ns units
                      StampCase{1'709'287'200, 500, 133'537'608'000'000'005},  // 2024-03-01 10:00
                      StampCase{-1, 0, 116'444'735'990'000'000},
                      StampCase{-11'644'473'600, 0, 0},  // 1601-01-01
                      StampCase{-11'644'473'601, 0, 0},  // before 1601
                      StampCase{INT64_MIN, 0, 0},
                      StampCase{910'692'730'085, 477'580'600, uint64_t{INT64_MAX} - 1},
                      StampCase{910'692'730'085, 477'580'700, uint64_t{INT64_MAX}},  // last stamp
                      StampCase{910'692'730'085, 477'580'800, uint64_t{INT64_MAX}},
                      StampCase{INT64_MAX, 999'999'999, uint64_t{INT64_MAX}}),
    RowName());

TEST(UnixTimeStamps, ComeBackToTheSecond) {
  for (const int64_t seconds : {int64_t{0}, int64_t{-1}, int64_t{1'709'287'200},
                                int64_t{-11'644'473'600}, int64_t{4'102'444'800}}) {
    EXPECT_EQ(UnixSecondsOfStamp(StampOfUnixTime(seconds, 999'999'999)), seconds);
  }
}

EntryFacts Facts(uint32_t mode, uint64_t size) {
  return EntryFacts{mode, size, 1'709'287'200, 123'456'789, false};
}

TEST(PanelItem, HoldsNameSizeTimeAndAttributes) {
  PluginPanelItem item{};
  item.Flags = PPIF_SELECTED;
  ASSERT_TRUE(FillPanelItem("big.iso", Facts(S_IFREG | 0444, 0x1'2345'6789), item));
  EXPECT_STREQ(item.FindData.cFileName, "big.iso");
  EXPECT_EQ(uint32_t{item.FindData.nFileSizeHigh}, 1u);
  EXPECT_EQ(uint32_t{item.FindData.nFileSizeLow}, 0x2345'6789u);
  const FILETIME written = item.FindData.ftLastWriteTime;
  EXPECT_EQ(StampOf(written), 133'537'608'001'234'567u);
  EXPECT_EQ(uint32_t{item.FindData.dwFileAttributes}, A | R);
  EXPECT_EQ(uint32_t{item.Flags}, 0u);
}

TEST(PanelItem, GivesDirectoriesSizeZero) {
  PluginPanelItem item{};
  ASSERT_TRUE(FillPanelItem("dir", Facts(S_IFDIR | 0755, 4096), item));
  EXPECT_EQ(uint32_t{item.FindData.nFileSizeLow}, 0u);
  EXPECT_EQ(uint32_t{item.FindData.dwFileAttributes}, D);
}

// cFileName holds 259 bytes and the terminator; a longer name cannot be put
// on the panel without naming another file.
TEST(PanelItem, RefusesNamesLongerThan259Bytes) {
  PluginPanelItem item{};
  const std::string longest(259, 'n');
  ASSERT_TRUE(FillPanelItem(longest, Facts(S_IFREG | 0644, 1), item));
  EXPECT_EQ(std::string(item.FindData.cFileName), longest);
  EXPECT_FALSE(FillPanelItem(longest + "n", Facts(S_IFREG | 0644, 1), item));
  EXPECT_FALSE(FillPanelItem(std::string(4000, 'n'), Facts(S_IFREG | 0644, 1), item));
}

}  // namespace
}  // namespace marlit::console
