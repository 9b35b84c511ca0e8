// Local write times through a cache of zone windows.
#include "engine/local_time.h"

namespace marlit {
namespace {

constexpr uint64_t kWindowTicks = uint64_t{1} << kZoneWindowShift;
constexpr size_t kFewestSlots = 16;
constexpr size_t kMostSlots = size_t{1} << 15;  // 32768 windows: 57 years, 256 KiB
// Changes of offset come twice a year at most in nearly every zone.
constexpr size_t kSlotsPerChange = 8;
// Time services that give more biases than a zone ever had are still
// answered, through Changes, without a longer search for each new window.
constexpr size_t kMostBiases = 64;

// The bias FileTimeToLocalFileTime applies to one stamp.
int64_t BiasAt(uint64_t utc, const TimeServices& clock) {
  const FILETIME in = FileTimeOf(utc);
  FILETIME out{};
  if (!clock.FileTimeToLocalFileTime(&in, &out)) return kNoBias;
  return static_cast<int64_t>(StampOf(out) - utc);  // the shift wraps like the sum
}

// The index of a bias in the list of those met, added when new. The list
// stays short: a zone has had few offsets.
uint32_t IndexOfBias(int64_t bias, std::vector<int64_t>& biases) {
  for (size_t i = 0; i < biases.size(); ++i) {
    if (biases[i] == bias) return static_cast<uint32_t>(i);
  }
  biases.push_back(bias);
  return static_cast<uint32_t>(biases.size() - 1);
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
  return LocalZone{
      &clock,
      std::vector<uint64_t>(slots, kNoWindow),
      {},
      std::vector<ZoneWindow>(slots / kSlotsPerChange, ZoneWindow{kNoWindow, 0, kNoBias, kNoBias})};
}

int64_t BiasOfOtherStamp(uint64_t utc, LocalZone& zone) {
  const uint64_t number = utc >> kZoneWindowShift;
  uint64_t& slot = zone.Slots[number & (zone.Slots.size() - 1)];
  ZoneWindow& change = zone.Changes[number & (zone.Changes.size() - 1)];
  const uint64_t mine = number << 32;
  if (slot != (mine | kChanging) || change.Number != number) {
    const ZoneWindow window = DescribeWindow(number, *zone.Clock);
    if (window.BiasBefore == window.BiasAfter && zone.Biases.size() < kMostBiases) {
      slot = mine | IndexOfBias(window.BiasBefore, zone.Biases);
      return window.BiasBefore;
    }
    slot = mine | kChanging;
    change = window;
  }
  return utc < change.Change ? change.BiasBefore : change.BiasAfter;
}

}  // namespace marlit
