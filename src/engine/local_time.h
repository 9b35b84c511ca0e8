// Items' last-write times in local time, as the date and time tests see them
// and as a listing shows them: one function gives both, so they never differ.
//
// What local time is belongs to the time services: each stamp goes through
// FileTimeToLocalFileTime's rule. The services are asked about windows of
// stamps rather than about each item: a LocalZone remembers, for each window
// it met, the bias at its start and the one change of bias inside it, if any.
#pragma once

#include <cstdint>
#include <vector>

#include "host/records.h"
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
  uint64_t Number;     // first stamp >> kZoneWindowShift; kNoWindow: slot unused
  uint64_t Change;     // first stamp at BiasAfter; the window's end when none
  int64_t BiasBefore;  // in ticks, east of UTC; kNoBias: not convertible
  int64_t BiasAfter;
};

constexpr uint64_t kNoWindow = ~uint64_t{0};
constexpr int64_t kNoBias = INT64_MIN;

// One run's view of the local zone: the windows met so far, direct-mapped by
// window number (a power of two of slots). Lives as long as one pass or one
// listing, so a zone change between runs is always seen.
struct LocalZone {
  const TimeServices* Clock;
  std::vector<ZoneWindow> Windows;
};

// A zone view for about `stamps` stamps; the table grows with them, up to a
// fixed size that covers decades of stamps without two windows sharing a slot.
LocalZone OpenLocalZone(const TimeServices& clock, size_t stamps);

// A local write time. Not Valid when the stamp is none (2^63 or more), cannot
// be converted, or leaves the range of stamps once shifted; every date and
// time test then fails, and a listing shows no date.
struct ItemWriteTime {
  bool Valid;
  uint64_t Local;         // local write time stamp
  uint32_t SecondsOfDay;  // of the local write time
  SYSTEMTIME Fields;      // local calendar fields; split only when asked for
};

// The item's last write in local time; `split` fills Fields as well.
ItemWriteTime LocalWriteTime(const PluginPanelItem& item, LocalZone& zone, bool split);

}  // namespace marlit
