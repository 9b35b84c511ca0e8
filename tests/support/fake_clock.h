// Time services for tests: the platform's own calendar conversions, with a
// zone bias and a "now" that the test fixes.
#pragma once

#include "platform/clock.h"

namespace marlit::test {

// A clock whose local zone lies biasMinutes east of UTC and whose local date
// is `now`. The returned table stays valid; the latest call's values apply.
TimeServices FixedClock(int biasMinutes, SYSTEMTIME now = SYSTEMTIME{2026, 12, 2, 8, 12, 0, 0, 0});

// A clock whose zone lies `before` minutes east of UTC up to the stamp
// `change` and `after` minutes from it on, with the local date `now`: a zone
// with a change of offset at any tick the test picks.
TimeServices ChangingClock(int before, uint64_t change, int after,
                           SYSTEMTIME now = SYSTEMTIME{2026, 12, 2, 8, 12, 0, 0, 0});

// The stamp of a calendar date and time, through the platform's conversion.
uint64_t Stamp(uint16_t year, uint16_t month, uint16_t day, uint16_t hour = 0, uint16_t minute = 0,
               uint16_t second = 0);

SYSTEMTIME Date(uint16_t year, uint16_t month, uint16_t day, uint16_t hour = 0, uint16_t minute = 0,
                uint16_t second = 0);

}  // namespace marlit::test
