// The pass with the system's own time services on Linux: each item's local
// time is the one the zone rules give for its instant, as ls shows it, on
// both sides of a change of offset and in years when the zone had another
// offset; and the zone view agrees with localtime_r for any stamp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "engine/selection.h"
#include "support/fake_clock.h"
#include "support/panel.h"
#include "support/wildcard.h"

namespace marlit {
namespace {

using test::Date;

void UseZone(const char* zone) {
  if (zone == nullptr) {
    unsetenv("TZ");
  } else {
    setenv("TZ", zone, 1);
  }
  tzset();
}

// Whether an item written at `utc` passes the date and time texts, judged
// whenever the test runs: with items from summer and from winter, the offset
// in force now would be wrong for some of them in any month.
bool Passes(uint64_t utc, const char* date, const char* time) {
  std::vector<PluginPanelItem> items = {test::MakeItem({"f", 0, 0, utc})};
  SelectionCriteria c{};
  ParseCriteria("", date, time, kSystemTime, c);
  std::strncpy(c.Mask, "*", sizeof c.Mask - 1);
  PanelInfo panel = test::PanelOf(items);
  SelectionPass(panel, c, test::TestCmpName, kSystemTime);
  return items[0].Flags != 0;
}

TEST(ZoneRules, EachItemByTheOffsetOfItsOwnInstant) {
  struct Row {
    const char* Zone;
    SYSTEMTIME Written;  // UTC
    const char *Date, *Time;
    bool Passes;
  } const rows[] = {
      // 2022-07-30 00:03:09 CEST (+2), and a winter item (+1).
      {"Europe/Berlin", Date(2022, 7, 29, 22, 3, 9), "30-7-22", "0:03", true},
      {"Europe/Berlin", Date(2022, 7, 29, 22, 3, 9), "29-7-22", "", false},
      {"Europe/Berlin", Date(2022, 12, 15, 23, 30), "16-12-22", "0:30", true},  // CET
      // The spring change, 2024-03-31 01:00 UTC: 01:59:59 CET, then 03:00 CEST.
      {"Europe/Berlin", Date(2024, 3, 31, 0, 59, 59), "31-3-24", "1:59", true},
      {"Europe/Berlin", Date(2024, 3, 31, 1), "31-3-24", "3:00", true},
      {"Europe/Berlin", Date(2024, 3, 31, 1), "", "..2:59", false},
      // The autumn change, 2024-10-27 01:00 UTC: 02:59:59 CEST, then 02:00 CET.
      {"Europe/Berlin", Date(2024, 10, 27, 0, 59, 59), "27-10-24", "2:59", true},
      {"Europe/Berlin", Date(2024, 10, 27, 1), "27-10-24", "2:00", true},
      {"Europe/Berlin", Date(1945, 6, 30, 22, 30), "1-7-1945", "1:30", true},  // +3 then
      // +6:30 in the war years, +5:30 since.
      {"Asia/Kolkata", Date(1943, 6, 15, 18), "16-6-1943", "0:30", true},
      {"Asia/Kolkata", Date(1943, 6, 15, 18), "15-6-1943", "", false},
      {"Asia/Kolkata", Date(2024, 6, 15, 18), "15-6-24", "23:30", true},
  };
  for (const Row& r : rows) {
    UseZone(r.Zone);
    FILETIME utc{};
    ASSERT_TRUE(kSystemTime.SystemTimeToFileTime(&r.Written, &utc));
    EXPECT_EQ(Passes(StampOf(utc), r.Date, r.Time), r.Passes)
        << r.Zone << ' ' << r.Date << " / " << r.Time;
  }
}

// Any stamp, far past and far future included, in zones of every form: the
// view gives what the time services give for that stamp alone.
TEST(ZoneRules, ViewAgreesWithTheServicesForAnyStamp) {
  const char* const zones[] = {"Europe/Berlin",
                               "Asia/Kolkata",
                               "Australia/Lord_Howe",
                               "America/Sao_Paulo",
                               "Africa/Freetown",
                               "EST5EDT,M3.2.0,M11.1.0",
                               ":America/New_York",
                               "",
                               nullptr};
  std::mt19937_64 random(1943);
  const uint64_t from = test::Stamp(1850, 1, 1), to = test::Stamp(2045, 1, 1);
  for (const char* zone : zones) {
    UseZone(zone);
    LocalZone view = OpenLocalZone(kSystemTime, 1000);
    for (int i = 0; i < 5000; ++i) {
      const uint64_t utc = i % 4 == 0 ? random() % kLastStamp : from + random() % (to - from);
      const ItemWriteTime t = LocalWriteTime(test::MakeItem({"f", 0, 0, utc}), view, false);
      const FILETIME in = FileTimeOf(utc);
      FILETIME out{};
      ASSERT_TRUE(kSystemTime.FileTimeToLocalFileTime(&in, &out));
      ASSERT_EQ(t.Valid ? t.Local : ~uint64_t{0},
                StampOf(out) <= kLastStamp ? StampOf(out) : ~uint64_t{0})
          << (zone != nullptr ? zone : "unset") << ' ' << utc;
    }
  }
}

}  // namespace
}  // namespace marlit
