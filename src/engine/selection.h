// The selection pass: tests every item of the active panel against the parsed
// criteria and marks those that pass, in place in the host's item array.
#pragma once

#include <cstdint>

#include "engine/criteria.h"
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

// An item's last write as the date and time tests see it: shifted into the
// local zone. Not Valid when the stamp cannot be converted; every date and
// time test then fails.
struct ItemWriteTime {
  bool Valid;
  uint64_t Local;         // local write time stamp
  uint32_t SecondsOfDay;  // of the local write time
  SYSTEMTIME Fields;      // local calendar fields, split only for exact dates
};

// A date bound as a time stamp on the local scale. Not Valid when the bound is
// no real calendar date; every range test against it then fails.
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
// of day. Changes nothing but Flags. cmpName is the host's name matching; the
// clock gives the local-zone bias in force now.
void SelectionPass(PanelInfo& panel, const SelectionCriteria& criteria, FarApiCmpName cmpName,
                   const TimeServices& clock);

}  // namespace marlit
