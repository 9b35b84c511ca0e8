// The pass with the system's own time services on Linux: each item's local
// time is the one the zone rules give for its instant, as ls shows it, on
// both sides of a change of offset and in years when the zone had another
// offset; and the zone view agrees with localtime_r for any stamp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "engine/local_time.h"
#include "engine/selection.h"
#include "platform/calendar.h"
#include "support/fake_clock.h"
#include "support/panel.h"
#include "support/wildcard.h"

namespace marlit {
namespace {

using test::Stamp;

void UseZone(const char* zone) {
  if (zone == nullptr) {
    unsetenv("TZ");
  } else {
    setenv("TZ", zone, 1);
  }
  tzset();
}

// Which items pass the date and time texts, judged in December 2026.
std::string Passing(const std::vector<uint64_t>& written, const char* date, const char* time) {
  std::vector<PluginPanelItem> items;
  for (uint64_t utc : written) items.push_back(test::MakeItem({"f", 0, 0, utc}));
  const TimeServices clock = test::SystemZoneClock();
  SelectionCriteria c{};
  ParseCriteria("", date, time, clock, c);
  std::strncpy(c.Mask, "*", sizeof c.Mask - 1);
  PanelInfo panel = test::PanelOf(items);
  SelectionPass(panel, c, test::TestCmpName, clock);
  std::string out;
  for (const PluginPanelItem& item : items) out += item.Flags != 0 ? '1' : '0';
  return out;
}

struct Row {
  const char* Date;
  const char* Time;
  const char* Passing;
};

TEST(ZoneRules, BerlinSummerAndWinterAndBothSidesOfEachChange) {
  UseZone("Europe/Berlin");
  const std::vector<uint64_t> items = {
      Stamp(2022, 7, 29, 22, 3, 9),    // 2022-07-30 00:03:09 CEST (+2)
      Stamp(2022, 12, 15, 23, 30),     // 2022-12-16 00:30:00 CET (+1)
      Stamp(2024, 3, 31, 0, 59, 59),   // 01:59:59 CET, the last second before the change
      Stamp(2024, 3, 31, 1),           // 03:00:00 CEST
      Stamp(2024, 10, 27, 0, 59, 59),  // 02:59:59 CEST
      Stamp(2024, 10, 27, 1),          // 02:00:00 CET
      Stamp(1945, 6, 30, 22, 30),      // 1945-07-01 01:30 (+3 that summer)
  };
  const Row rows[] = {
      {"30-7-22", "", "1000000"},
      {"29-7-22", "", "0000000"},
      {"", "0:03", "1000000"},
      {"16-12-22", "0", "0100000"},
      {"31-3-24", "..2:00", "0010000"},
      {"31-3-24", "3:00..", "0001000"},
      {"27-10-24", "2:59", "0000100"},
      {"27-10-24", "2:00", "0000010"},
      {"1-7-1945", "1:30", "0000001"},
      {"..30-6-1945", "", "0000000"},
      {"30-7-22..16-12-22", "", "1100000"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Passing(items, r.Date, r.Time), r.Passing) << r.Date << " / " << r.Time;
  }
}

TEST(ZoneRules, KolkataWhenItsOffsetWasAnother) {
  UseZone("Asia/Kolkata");
  const std::vector<uint64_t> items = {
      Stamp(1943, 6, 15, 18),  // 1943-06-16 00:30 (+6:30 in the war years)
      Stamp(2024, 6, 15, 18),  // 2024-06-15 23:30 (+5:30)
  };
  const Row rows[] = {
      {"16-6-1943", "0:30", "10"},
      {"15-6-1943", "", "00"},
      {"15-6-24", "23:30", "01"},
      {"16-6-1943..15-6-2024", "", "11"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Passing(items, r.Date, r.Time), r.Passing) << r.Date << " / " << r.Time;
  }
}

// Any stamp, far past and far future included, in zones of every form: the
// view gives what the time services give for that stamp alone.
TEST(ZoneRules, ViewAgreesWithTheServicesForAnyStamp) {
  const char* const zones[] = {
      "Europe/Berlin",
      "Asia/Kolkata",
      "America/New_York",
      "Australia/Lord_Howe",
      "America/Sao_Paulo",
      "Africa/Freetown",
      "EST5EDT,M3.2.0,M11.1.0",
      ":Europe/Berlin",
      "<+0330>-3:30<+0430>,J79/24,J263/24",
      "",
      nullptr,
  };
  std::mt19937_64 random(1943);
  const uint64_t from = Stamp(1850, 1, 1), to = Stamp(2045, 1, 1);
  for (const char* zone : zones) {
    UseZone(zone);
    LocalZone view = OpenLocalZone(kSystemTime, 1000);
    for (int i = 0; i < 5000; ++i) {
      const uint64_t utc = i % 4 == 0 ? random() % kLastStamp : from + random() % (to - from);
      const ItemWriteTime t = LocalWriteTime(test::MakeItem({"f", 0, 0, utc}), view, false);
      const FILETIME in = FileTimeOf(utc);
      FILETIME out{};
      ASSERT_TRUE(kSystemTime.FileTimeToLocalFileTime(&in, &out));
      ASSERT_EQ(t.Valid, StampOf(out) <= kLastStamp) << (zone ? zone : "unset") << ' ' << utc;
      if (t.Valid) {
        ASSERT_EQ(t.Local, StampOf(out)) << (zone ? zone : "unset") << ' ' << utc;
      }
    }
  }
}

}  // namespace
}  // namespace marlit
