// Items' last-write times in local time, as the date and time tests see them
// and as a listing shows them: one function gives both, so they never differ.
//
// What local time is belongs to the time services: each stamp goes through
// FileTimeToLocalFileTime's rule. The services are asked about windows of
// stamps rather than about each item: a LocalZone remembers, for each window
// it met, its bias, or the bias at its start and the one change inside it.
#pragma once

#include <cstdint>
#include <vector>

#include "host/records.h"
#include "platform/calendar.h"
#include "platform/clock.h"

namespace marlit {

// Windows of 2^39 ticks, about 15 hours 16 minutes. Zones do not change
// their offset twice that close together (in the time zone database the
// closest two changes are four days apart; only a hand-written TZ rule whose
// daylight saving lasts less than that would be misread), so a window holds
// at most one change: a look at each end tells whether it holds one, and
// halving the window finds it to the tick.
constexpr int kZoneWindowShift = 39;

// What the time services said about one window of stamps.
struct ZoneWindow {
  uint64_t Number;     // first stamp >> kZoneWindowShift; kNoWindow: none
  uint64_t Change;     // first stamp at BiasAfter; the window's end when none
  int64_t BiasBefore;  // in ticks, east of UTC; kNoBias: not convertible
  int64_t BiasAfter;
};

constexpr uint64_t kNoWindow = ~uint64_t{0};
constexpr int64_t kNoBias = INT64_MIN;

// In a slot, below the window number (bits 32 and up): an index into Biases
// when one bias holds throughout the window, or kChanging when the window
// holds a change, which Changes keeps.
constexpr uint32_t kChanging = 0x8000'0000;

// One run's view of the local zone: what it learnt of the windows it met.
// Slots and Changes are direct-mapped by window number (a power of two of
// entries each). Nearly every window holds one bias throughout, so its slot
// is 8 bytes and the slots of years of stamps stay in the processor's cache.
// Lives as long as one pass or one listing, so a zone change between runs is
// always seen.
struct LocalZone {
  const TimeServices* Clock;
  std::vector<uint64_t> Slots;      // number << 32 | index or kChanging; kNoWindow: unused
  std::vector<int64_t> Biases;      // the distinct biases of the windows that hold one
  std::vector<ZoneWindow> Changes;  // the windows that hold a change
};

// A zone view for about `stamps` stamps; the tables grow with them, up to a
// size that covers decades of stamps without two windows sharing a slot.
LocalZone OpenLocalZone(const TimeServices& clock, size_t stamps);

// The bias of a stamp whose window has no slot yet or holds a change.
int64_t BiasOfOtherStamp(uint64_t utc, LocalZone& zone);

// The bias FileTimeToLocalFileTime applies to a stamp up to kLastStamp.
inline int64_t BiasOf(uint64_t utc, LocalZone& zone) {
  const uint64_t number = utc >> kZoneWindowShift;
  const uint64_t slot = zone.Slots[number & (zone.Slots.size() - 1)];
  const uint32_t known = static_cast<uint32_t>(slot);
  if (slot >> 32 == number && known < kChanging) return zone.Biases[known];
  return BiasOfOtherStamp(utc, zone);
}

// A local write time. Not Valid when the stamp is none (2^63 or more), cannot
// be converted, or leaves the range of stamps once shifted; every date and
// time test then fails, and a listing shows no date.
struct ItemWriteTime {
  bool Valid;
  uint64_t Local;     // local write time stamp
  SYSTEMTIME Fields;  // local calendar fields; split only when asked for
};

// The item's last write in local time; `split` fills Fields as well. Inline:
// the pass calls it for every item, and a window met before costs a look in
// a slot and no call.
inline ItemWriteTime LocalWriteTime(const PluginPanelItem& item, LocalZone& zone, bool split) {
  ItemWriteTime t{};
  const FILETIME written = item.FindData.ftLastWriteTime;
  const uint64_t utc = StampOf(written);
  if (utc > kLastStamp) return t;
  const int64_t bias = BiasOf(utc, zone);
  // A shift that leaves the range of stamps is not wrapped back into it.
  int64_t local = 0;
  if (bias == kNoBias || __builtin_add_overflow(static_cast<int64_t>(utc), bias, &local) ||
      local < 0) {
    return t;
  }
  t.Valid = true;
  t.Local = static_cast<uint64_t>(local);
  if (split) SplitStamp(t.Local, t.Fields);
  return t;
}

}  // namespace marlit
