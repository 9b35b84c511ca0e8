// The selection pass and its item tests.
#include "engine/selection.h"

#include "engine/mask_list.h"
#include "platform/text.h"

namespace marlit {
namespace {

// The pass waits on memory more than on its tests: an item's fields and its
// Flags lie in different cache lines of a record of 378 bytes, so the lines
// of the item this many places ahead are asked for early.
constexpr int kAhead = 8;

// Everything of a pass that does not depend on the item, worked out once.
struct PassContext {
  MaskList Mask;
  uint32_t IncludeMask;  // 0: the include test passes every item
  uint32_t ExcludeMask;  // 0: the exclude test passes every item
  bool NeedWriteTime;
  bool NeedFields;
  DateBound DateFrom;
  DateBound DateTo;
};

uint32_t AttributeMask(const bool (&set)[kAttributeCount]) {
  uint32_t mask = 0;
  for (int bit = 0; bit < kAttributeCount; ++bit) {
    if (set[bit]) mask |= kAttributeMasks[bit];
  }
  return mask;
}

DateBound DateBoundOf(const SYSTEMTIME& bound, const TimeServices& clock) {
  FILETIME stamp{};
  const bool valid = clock.SystemTimeToFileTime(&bound, &stamp);
  return DateBound{valid, valid ? StampOf(stamp) : 0};
}

// An upper bound names a second (23:59:59 once completed); every stamp
// within that second passes, up to the next day's midnight. Milliseconds are
// 0 in a parsed bound, so the second's last tick stays within the day.
DateBound UpperDateBoundOf(const SYSTEMTIME& bound, const TimeServices& clock) {
  DateBound upper = DateBoundOf(bound, clock);
  if (upper.Valid) upper.Stamp += kTicksPerSecond - 1 - upper.Stamp % kTicksPerSecond;
  return upper;
}

void PreparePass(const SelectionCriteria& c, const TimeServices& clock, PassContext& ctx) {
  ReadMaskList(std::string_view(c.Mask, BoundedLength(c.Mask, sizeof c.Mask)), ctx.Mask);
  ctx.IncludeMask = AttributeMask(c.InAttr);
  ctx.ExcludeMask = AttributeMask(c.ExAttr);
  ctx.NeedWriteTime = c.DateKind != RangeKind::None || c.TimeKind != RangeKind::None;
  ctx.NeedFields = c.DateKind == RangeKind::Exact;
  if (c.DateKind == RangeKind::Between || c.DateKind == RangeKind::From) {
    ctx.DateFrom = DateBoundOf(c.DateFrom, clock);
  }
  if (c.DateKind == RangeKind::Between || c.DateKind == RangeKind::UpTo) {
    ctx.DateTo = UpperDateBoundOf(c.DateTo, clock);
  }
}

// Worked out only for a time criterion: a date alone never needs it.
uint32_t SecondsOfDay(const ItemWriteTime& t) {
  return static_cast<uint32_t>(t.Local / kTicksPerSecond % 86'400);
}

uint32_t SecondsOfDay(const SYSTEMTIME& t) {
  return uint32_t{t.wHour} * 3600 + uint32_t{t.wMinute} * 60 + uint32_t{t.wSecond};
}

bool FieldMatches(uint16_t wanted, uint32_t actual) {
  return wanted == NotGiven || wanted == actual;
}

// The item size (64 bits) against a bound by value; an empty bound (-1) lies
// below every size.
bool SizeNotBelow(uint64_t size, int64_t lower) {
  return lower < 0 || size >= static_cast<uint64_t>(lower);
}
bool SizeNotAbove(uint64_t size, int64_t upper) {
  return upper >= 0 && size <= static_cast<uint64_t>(upper);
}

bool SizePasses(uint64_t size, const SelectionCriteria& c) {
  switch (c.SizeKind) {
    case RangeKind::None:
      return true;
    case RangeKind::Exact:
      return c.SizeFrom >= 0 && size == static_cast<uint64_t>(c.SizeFrom);
    case RangeKind::Between:
      return SizeNotBelow(size, c.SizeFrom) && SizeNotAbove(size, c.SizeTo);
    case RangeKind::From:
      return SizeNotBelow(size, c.SizeFrom);
    case RangeKind::UpTo:
      return SizeNotAbove(size, c.SizeTo);
  }
  return false;
}

bool DatePasses(const ItemWriteTime& t, const SelectionCriteria& c, const PassContext& ctx) {
  switch (c.DateKind) {
    case RangeKind::None:
      return true;
    case RangeKind::Exact:
      return DateEquals(c.DateFrom, t);
    case RangeKind::Between:
      return DateNotBefore(ctx.DateFrom, t) && DateNotAfter(ctx.DateTo, t);
    case RangeKind::From:
      return DateNotBefore(ctx.DateFrom, t);
    case RangeKind::UpTo:
      return DateNotAfter(ctx.DateTo, t);
  }
  return false;
}

bool TimePasses(const ItemWriteTime& t, const SelectionCriteria& c) {
  switch (c.TimeKind) {
    case RangeKind::None:
      return true;
    case RangeKind::Exact:
      return TimeEquals(c.TimeFrom, t);
    case RangeKind::Between:
      return TimeNotBefore(c.TimeFrom, t) && TimeNotAfter(c.TimeTo, t);
    case RangeKind::From:
      return TimeNotBefore(c.TimeFrom, t);
    case RangeKind::UpTo:
      return TimeNotAfter(c.TimeTo, t);
  }
  return false;
}

bool ItemPasses(const PluginPanelItem& item, const SelectionCriteria& c, const PassContext& ctx,
                FarApiCmpName cmpName, LocalZone& zone) {
  if (!MaskMatches(ctx.Mask, cmpName, item.FindData.cFileName)) return false;
  const uint64_t size = (uint64_t{item.FindData.nFileSizeHigh} << 32) | item.FindData.nFileSizeLow;
  if (!SizePasses(size, c)) return false;
  // Include: any attribute of the set; exclude: fails only with all of them.
  if (ctx.IncludeMask != 0 && !HasAttribute(item, ctx.IncludeMask)) return false;
  if (ctx.ExcludeMask != 0 &&
      (item.FindData.dwFileAttributes & ctx.ExcludeMask) == ctx.ExcludeMask) {
    return false;
  }
  if (!ctx.NeedWriteTime) return true;
  const ItemWriteTime t = LocalWriteTime(item, zone, ctx.NeedFields);
  return DatePasses(t, c, ctx) && TimePasses(t, c);
}

uint32_t Marked(uint32_t flags, SelectionAction mode) {
  switch (mode) {
    case SelectionAction::Deselect:
      return 0;  // every flag bit, not only the selection
    case SelectionAction::Invert:
      return flags ^ PPIF_SELECTED;
    default:
      return flags | PPIF_SELECTED;
  }
}

}  // namespace

bool HasAttribute(const PluginPanelItem& item, uint32_t mask) {
  return (item.FindData.dwFileAttributes & mask) != 0;
}

bool TimeEquals(const SYSTEMTIME& value, const ItemWriteTime& item) {
  const uint32_t seconds = SecondsOfDay(item);
  return item.Valid && FieldMatches(value.wHour, seconds / 3600) &&
         FieldMatches(value.wMinute, seconds / 60 % 60);
}

bool TimeNotBefore(const SYSTEMTIME& lower, const ItemWriteTime& item) {
  return item.Valid && SecondsOfDay(item) >= SecondsOfDay(lower);
}

bool TimeNotAfter(const SYSTEMTIME& upper, const ItemWriteTime& item) {
  return item.Valid && SecondsOfDay(upper) >= SecondsOfDay(item);
}

bool DateEquals(const SYSTEMTIME& value, const ItemWriteTime& item) {
  return item.Valid && FieldMatches(value.wDay, item.Fields.wDay) &&
         FieldMatches(value.wMonth, item.Fields.wMonth) &&
         FieldMatches(value.wYear, item.Fields.wYear);
}

bool DateNotBefore(const DateBound& lower, const ItemWriteTime& item) {
  return lower.Valid && item.Valid && item.Local >= lower.Stamp;
}

bool DateNotAfter(const DateBound& upper, const ItemWriteTime& item) {
  return upper.Valid && item.Valid && item.Local <= upper.Stamp;
}

void SelectionPass(PanelInfo& panel, const SelectionCriteria& criteria, FarApiCmpName cmpName,
                   const TimeServices& clock) {
  const int count = panel.ItemsNumber;
  PluginPanelItem* const items = panel.PanelItems;
  if (count <= 0 || items == nullptr) return;
  if (criteria.ClearFirst) {
    for (int i = 0; i < count; ++i) items[i].Flags = 0;
  }
  PassContext ctx{};
  PreparePass(criteria, clock, ctx);
  LocalZone zone = OpenLocalZone(clock, ctx.NeedWriteTime ? static_cast<size_t>(count) : 0);
  for (int i = 0; i < count; ++i) {
    if (i + kAhead < count) {
      const PluginPanelItem& next = items[i + kAhead];
      __builtin_prefetch(&next.FindData.dwFileAttributes);
      __builtin_prefetch(&next.FindData.cFileName[16]);
      __builtin_prefetch(&next.Flags, 1);
    }
    if (ItemPasses(items[i], criteria, ctx, cmpName, zone)) {
      items[i].Flags = Marked(items[i].Flags, criteria.Mode);
    }
  }
}

}  // namespace marlit
