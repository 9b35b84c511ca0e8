// The selection pass and its item tests.
#include "engine/selection.h"

namespace marlit {
namespace {

// Everything of a pass that does not depend on the item, worked out once.
struct PassContext {
  uint32_t IncludeMask;  // 0: the include test passes every item
  uint32_t ExcludeMask;  // 0: the exclude test passes every item
  bool BiasValid;
  int64_t Bias;  // local-zone bias now, in 100-ns units
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

// The bias is the same for every stamp while the pass runs, so one
// conversion of a reference stamp, far from both ends of the range, gives it.
PassContext PreparePass(const SelectionCriteria& c, const TimeServices& clock) {
  PassContext ctx{};
  ctx.IncludeMask = AttributeMask(c.InAttr);
  ctx.ExcludeMask = AttributeMask(c.ExAttr);
  ctx.NeedWriteTime = c.DateKind != RangeKind::None || c.TimeKind != RangeKind::None;
  ctx.NeedFields = c.DateKind == RangeKind::Exact;
  if (ctx.NeedWriteTime) {
    constexpr uint64_t kReference = uint64_t{1} << 62;
    FILETIME utc = FileTimeOf(kReference);
    FILETIME local{};
    ctx.BiasValid = clock.FileTimeToLocalFileTime(&utc, &local);
    ctx.Bias = static_cast<int64_t>(StampOf(local) - kReference);
  }
  if (c.DateKind == RangeKind::Between || c.DateKind == RangeKind::From) {
    ctx.DateFrom = DateBoundOf(c.DateFrom, clock);
  }
  if (c.DateKind == RangeKind::Between || c.DateKind == RangeKind::UpTo) {
    ctx.DateTo = DateBoundOf(c.DateTo, clock);
  }
  return ctx;
}

// A stamp of 2^63 or more is no time stamp, and a shift that leaves the range
// is not wrapped into it: both make the write time invalid.
ItemWriteTime WriteTimeOf(const PluginPanelItem& item, const PassContext& ctx,
                          const TimeServices& clock) {
  ItemWriteTime t{};
  const FILETIME written = item.FindData.ftLastWriteTime;
  const uint64_t utc = StampOf(written);
  int64_t local = 0;
  if (!ctx.BiasValid || utc > uint64_t{INT64_MAX} ||
      __builtin_add_overflow(static_cast<int64_t>(utc), ctx.Bias, &local) || local < 0) {
    return t;
  }
  t.Valid = true;
  t.Local = static_cast<uint64_t>(local);
  t.SecondsOfDay = static_cast<uint32_t>(t.Local / kTicksPerSecond % 86'400);
  if (ctx.NeedFields) {
    const FILETIME stamp = FileTimeOf(t.Local);
    t.Valid = clock.FileTimeToSystemTime(&stamp, &t.Fields);
  }
  return t;
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
                FarApiCmpName cmpName, const TimeServices& clock) {
  if (cmpName(c.Mask, item.FindData.cFileName, 1) == 0) return false;
  const uint64_t size = (uint64_t{item.FindData.nFileSizeHigh} << 32) | item.FindData.nFileSizeLow;
  if (!SizePasses(size, c)) return false;
  // Include: any attribute of the set; exclude: fails only with all of them.
  if (ctx.IncludeMask != 0 && !HasAttribute(item, ctx.IncludeMask)) return false;
  if (ctx.ExcludeMask != 0 &&
      (item.FindData.dwFileAttributes & ctx.ExcludeMask) == ctx.ExcludeMask) {
    return false;
  }
  if (!ctx.NeedWriteTime) return true;
  const ItemWriteTime t = WriteTimeOf(item, ctx, clock);
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
  return item.Valid && FieldMatches(value.wHour, item.SecondsOfDay / 3600) &&
         FieldMatches(value.wMinute, item.SecondsOfDay / 60 % 60);
}

bool TimeNotBefore(const SYSTEMTIME& lower, const ItemWriteTime& item) {
  return item.Valid && item.SecondsOfDay >= SecondsOfDay(lower);
}

bool TimeNotAfter(const SYSTEMTIME& upper, const ItemWriteTime& item) {
  return item.Valid && SecondsOfDay(upper) >= item.SecondsOfDay;
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
  const PassContext ctx = PreparePass(criteria, clock);
  for (int i = 0; i < count; ++i) {
    if (ItemPasses(items[i], criteria, ctx, cmpName, clock)) {
      items[i].Flags = Marked(items[i].Flags, criteria.Mode);
    }
  }
}

}  // namespace marlit
