// The selection pass: tests every item of the active panel against the parsed
// criteria and marks those that pass, in place in the host's item array.
#pragma once

#include <cstdint>

#include "engine/criteria.h"
#include "engine/local_time.h"
#include "host/records.h"
#include "platform/clock.h"

namespace marlit {

// The attribute behind each bit of the include and exclude sets, bit 0 first;
// the stored values and the dialog's check boxes use the same order.
constexpr uint32_t kAttributeMasks[kAttributeCount] = {
    FILE_ATTRIBUTE_ARCHIVE,    // bit 0
    FILE_ATTRIBUTE_READONLY,   // bit 1
    FILE_ATTRIBUTE_HIDDEN,     // bit 2
    FILE_ATTRIBUTE_SYSTEM,     // bit 3
    FILE_ATTRIBUTE_DIRECTORY,  // bit 4
    FILE_ATTRIBUTE_COMPRESSED  // bit 5
};

// A date bound as a time stamp on the local scale. Not Valid when the bound is
// no real calendar date; every range test against it then fails. An upper
// bound holds the last tick of the second it names, so that the whole last
// second of its day passes.
struct DateBound {
  bool Valid;
  uint64_t Stamp;
};

// The item tests; each looks at one item and at most one bound.
bool HasAttribute(const PluginPanelItem& item, uint32_t mask);
bool TimeEquals(const SYSTEMTIME& value, const ItemWriteTime& item);
bool TimeNotBefore(const SYSTEMTIME& lower, const ItemWriteTime& item);
bool TimeNotAfter(const SYSTEMTIME& upper, const ItemWriteTime& item);
bool DateEquals(const SYSTEMTIME& value, const ItemWriteTime& item);
bool DateNotBefore(const DateBound& lower, const ItemWriteTime& item);
bool DateNotAfter(const DateBound& upper, const ItemWriteTime& item);

// Clears every item's Flags when ClearFirst is set, then applies Mode to the
// Flags of each item that passes mask, size, include, exclude, date and time
// of day. Changes nothing but Flags. cmpName is the host's matching of one
// pattern, asked for each pattern of the mask list; the clock gives each
// item's local write time.
void SelectionPass(PanelInfo& panel, const SelectionCriteria& criteria, FarApiCmpName cmpName,
                   const TimeServices& clock);

}  // namespace marlit
