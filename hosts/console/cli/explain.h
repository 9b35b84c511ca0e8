// How the plug-in reads a confirmed dialog's criteria, told in words (for
// --explain), and the readings a person probably did not mean (warnings).
//
// The criterion texts go through the engine's own parser, compiled into the
// program, so what is told here is what the plug-in does with the same texts.
// Warnings change nothing: the plug-in runs on the texts as they are.
#pragma once

#include <string>
#include <vector>

#include "dialog/dialog.h"
#include "platform/clock.h"

namespace marlit::console {

struct CriteriaReading {
  // One line per criterion: mask, size, date, time, attributes, action.
  std::vector<std::string> Lines;
  // One line each, e.g. "size 'abc': no digits, read as 0 bytes".
  std::vector<std::string> Warnings;
};

// Reads the criteria the dialog returned. The clock gives the current year
// that completes a date range, as it does for the plug-in.
CriteriaReading ReadCriteria(const DialogResult& confirmed, const TimeServices& clock);

// A byte count with thousands separators: "51,200".
std::string GroupedNumber(uint64_t value);

}  // namespace marlit::console
