// Local write times through a cache of zone windows.
#include "engine/local_time.h"

#include "platform/calendar.h"

namespace marlit {
namespace {

constexpr uint64_t kWindowTicks = uint64_t{1} << kZoneWindowShift;
constexpr size_t kFewestSlots = 16;
constexpr size_t kMostSlots = size_t{1} << 15;  // 32768 windows: 57 years, 1 MiB

// The bias FileTimeToLocalFileTime applies to one stamp.
int64_t BiasAt(uint64_t utc, const TimeServices& clock) {
  const FILETIME in = FileTimeOf(utc);
  FILETIME out{};
  if (!clock.FileTimeToLocalFileTime(&in, &out)) return kNoBias;
  return static_cast<int64_t>(StampOf(out) - utc);  // the shift wraps like the sum
}

// Looks at both ends of the window; when they differ, halves the stretch
// between the last stamp known at the first bias and the first known at
// another until they are neighbours.
ZoneWindow DescribeWindow(uint64_t number, const TimeServices& clock) {
  const uint64_t first = number << kZoneWindowShift;
  const uint64_t last = first + (kWindowTicks - 1);
  const int64_t before = BiasAt(first, clock);
  int64_t after = BiasAt(last, clock);
  if (after == before) return ZoneWindow{number, last + 1, before, before};
  uint64_t low = first;
  uint64_t high = last;
  while (high - low > 1) {
    const uint64_t middle = low + (high - low) / 2;
    const int64_t bias = BiasAt(middle, clock);
    if (bias == before) {
      low = middle;
    } else {
      high = middle;
      after = bias;
    }
  }
  return ZoneWindow{number, high, before, after};
}

}  // namespace

LocalZone OpenLocalZone(const TimeServices& clock, size_t stamps) {
  size_t slots = kFewestSlots;
  while (slots < stamps && slots < kMostSlots) slots *= 2;
  return LocalZone{&clock, std::vector<ZoneWindow>(slots, ZoneWindow{kNoWindow, 0, 0, 0})};
}

ItemWriteTime LocalWriteTime(const PluginPanelItem& item, LocalZone& zone, bool split) {
  ItemWriteTime t{};
  const FILETIME written = item.FindData.ftLastWriteTime;
  const uint64_t utc = StampOf(written);
  if (utc > kLastStamp) return t;
  const uint64_t number = utc >> kZoneWindowShift;
  ZoneWindow& window = zone.Windows[number & (zone.Windows.size() - 1)];
  if (window.Number != number) window = DescribeWindow(number, *zone.Clock);
  const int64_t bias = utc < window.Change ? window.BiasBefore : window.BiasAfter;
  // A shift that leaves the range of stamps is not wrapped back into it.
  int64_t local = 0;
  if (bias == kNoBias || __builtin_add_overflow(static_cast<int64_t>(utc), bias, &local) ||
      local < 0) {
    return t;
  }
  t.Valid = true;
  t.Local = static_cast<uint64_t>(local);
  t.SecondsOfDay = static_cast<uint32_t>(t.Local / kTicksPerSecond % 86'400);
  if (split) SplitStamp(t.Local, t.Fields);
  return t;
}

}  // namespace marlit
