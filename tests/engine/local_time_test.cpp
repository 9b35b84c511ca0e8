// Local write times through the zone view: the same local time as the time
// services give for each stamp, whatever window the stamp and a change of
// offset fall in.
#include "engine/local_time.h"

#include <gtest/gtest.h>

#include <random>

#include "support/fake_clock.h"
#include "support/panel.h"

namespace marlit {
namespace {

constexpr uint64_t kWindow = uint64_t{1} << kZoneWindowShift;
constexpr int64_t kHour = 3600 * int64_t{kTicksPerSecond};

ItemWriteTime At(uint64_t utc, LocalZone& zone) {
  return LocalWriteTime(test::MakeItem({"f", 0, 0, utc}), zone, false);
}

// The service's own answer for one stamp, which the view must give.
uint64_t ServiceLocal(uint64_t utc, const TimeServices& clock) {
  const FILETIME in = FileTimeOf(utc);
  FILETIME out{};
  EXPECT_TRUE(clock.FileTimeToLocalFileTime(&in, &out));
  return StampOf(out);
}

TEST(LocalWriteTime, ChangeOfOffsetAnywhereInAWindow) {
  const uint64_t window = test::Stamp(2024, 3, 31) >> kZoneWindowShift << kZoneWindowShift;
  struct Row {
    uint64_t Change;  // UTC+1 before it, UTC+2 from it on
    int64_t Offset;   // of the stamp looked at, from the change
    int64_t Bias;     // hours
  } const rows[] = {
      {window + 123'456'789, -1, 1},
      {window + 123'456'789, 0, 2},
      {window, -1, 1},
      {window, 0, 2},  // at a window's first tick
      {window + kWindow - 1, -1, 1},
      {window + kWindow - 1, 0, 2},  // at its last
      {window + kWindow / 2, 30 * 24 * kHour, 2},
  };
  for (const Row& r : rows) {
    const TimeServices clock = test::ChangingClock(60, r.Change, 120);
    LocalZone zone = OpenLocalZone(clock, 1);
    const uint64_t utc = r.Change + static_cast<uint64_t>(r.Offset);
    const ItemWriteTime t = At(utc, zone);
    EXPECT_TRUE(t.Valid);
    EXPECT_EQ(t.Local, utc + static_cast<uint64_t>(r.Bias * kHour))
        << "change " << r.Change - window << " offset " << r.Offset;
  }
}

// A zone with more offsets than any real one: a new one every window.
bool ManyOffsets(const FILETIME* utc, FILETIME* local) {
  const uint64_t minutes = (StampOf(*utc) >> kZoneWindowShift) % 300;
  *local = FileTimeOf(StampOf(*utc) + minutes * 60 * kTicksPerSecond);
  return true;
}

// Random stamps, many near a change, through a view of few slots, so that
// windows keep pushing each other out of the table.
TEST(LocalWriteTime, AgreesWithTheServiceForEveryStamp) {
  std::mt19937_64 random(2024);
  const uint64_t change = test::Stamp(2024, 10, 27, 1) + 7;
  const TimeServices changing = test::ChangingClock(120, change, 60);
  TimeServices many = changing;
  many.FileTimeToLocalFileTime = ManyOffsets;
  const TimeServices clocks[] = {changing, many};
  for (const TimeServices& clock : clocks) {
    LocalZone zone = OpenLocalZone(clock, 1);
    for (int i = 0; i < 20'000; ++i) {
      const uint64_t utc =
          i % 2 == 0 ? change - 2 * kWindow + random() % (4 * kWindow) : random() % kLastStamp;
      const ItemWriteTime t = At(utc, zone);
      ASSERT_TRUE(t.Valid) << utc;
      ASSERT_EQ(t.Local, ServiceLocal(utc, clock)) << utc;
    }
  }
}

}  // namespace
}  // namespace marlit
