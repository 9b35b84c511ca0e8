#include "dialog/dialog.h"

#include <cstring>
#include <string_view>

#include "engine/criteria.h"
#include "host/module.h"
#include "platform/text.h"

namespace marlit {

namespace {

// The one literal text of the template: every item that has no message starts
// empty.
constexpr char kEmptyText[] = "";

constexpr uintptr_t Message(uintptr_t id) { return id; }
uintptr_t Literal(const char* text) { return reinterpret_cast<uintptr_t>(text); }

constexpr uint32_t kSeparator = DIF_SEPARATOR | DIF_BOXCOLOR;

// The text an item holds, up to its terminator (or its whole buffer, should
// the host have left none).
std::string_view ItemText(const FarDialogItem& item) {
  return std::string_view(item.Data, BoundedLength(item.Data, sizeof item.Data));
}

void SetItemText(FarDialogItem& item, std::string_view text) {
  CopyText(item.Data, sizeof item.Data, text);
}

std::string_view ValueText(const char* buffer, size_t capacity) {
  return std::string_view(buffer, BoundedLength(buffer, capacity));
}

void SetState(FarDialogItem& item, int state) { item.Selected = state; }
bool IsOn(const FarDialogItem& item) { return item.Selected != 0; }

}  // namespace

// Type, X1, Y1, X2, Y2, Focus, Selected, Flags, DefaultButton, Data.
const DialogItemTemplate SelectionDialogTemplate[kDialogItemCount] = {
    /*  0 */ {DI_DOUBLEBOX, 3, 1, 66, 18, 0, 0, 0, 0, Message(3)},  // frame and title
    /*  1 */ {DI_TEXT, 5, 2, 0, 0, 0, 0, 0, 0, Message(4)},         // label of the mask field
    /*  2 */ {DI_EDIT, 5, 3, 64, 3, 1, 0, DIF_HISTORY, 0, Literal(kEmptyText)},  // mask field
    /*  3 */ {DI_TEXT, 5, 4, 0, 0, 0, 0, kSeparator, 0, Literal(kEmptyText)},    // separator
    /*  4 */ {DI_RADIOBUTTON, 5, 5, 0, 0, 0, 0, 0, 0, Message(5)},               // action select
    /*  5 */ {DI_RADIOBUTTON, 20, 5, 0, 0, 0, 0, 0, 0, Message(6)},              // action deselect
    /*  6 */ {DI_RADIOBUTTON, 35, 5, 0, 0, 0, 0, 0, 0, Message(7)},              // action invert
    /*  7 */ {DI_CHECKBOX, 5, 6, 0, 0, 0, 0, 0, 0, Message(8)},                // clear-first switch
    /*  8 */ {DI_TEXT, 5, 7, 0, 0, 0, 0, kSeparator, 0, Literal(kEmptyText)},  // separator
    /*  9 */ {DI_TEXT, 5, 8, 0, 0, 0, 0, 0, 0, Message(16)},  // label of the size field
    /* 10 */ {DI_EDIT, 5, 9, 30, 3, 0, 0, DIF_HISTORY, 0, Literal(kEmptyText)},  // size field
    /* 11 */ {DI_TEXT, 5, 11, 0, 0, 0, 0, 0, 0, Message(18)},  // label of the time field
    /* 12 */ {DI_EDIT, 5, 12, 30, 3, 0, 0, DIF_HISTORY, 0, Literal(kEmptyText)},  // time field
    /* 13 */ {DI_TEXT, 5, 14, 0, 0, 0, 0, 0, 0, Message(17)},  // label of the date field
    /* 14 */ {DI_EDIT, 5, 15, 30, 3, 0, 0, DIF_HISTORY, 0, Literal(kEmptyText)},  // date field
    /* 15 */ {DI_TEXT, 35, 8, 0, 0, 0, 0, 0, 0, Message(9)},                      // include heading
    /* 16 */ {DI_CHECKBOX, 35, 9, 0, 0, 0, 0, 0, 0, Message(10)},                 // include archive
    /* 17 */ {DI_CHECKBOX, 35, 10, 0, 0, 0, 0, 0, 0, Message(11)},  // include read-only
    /* 18 */ {DI_CHECKBOX, 35, 11, 0, 0, 0, 0, 0, 0, Message(12)},  // include hidden
    /* 19 */ {DI_CHECKBOX, 50, 9, 0, 0, 0, 0, 0, 0, Message(13)},   // include system
    /* 20 */ {DI_CHECKBOX, 50, 10, 0, 0, 0, 0, 0, 0, Message(14)},  // include directory
    /* 21 */ {DI_CHECKBOX, 50, 11, 0, 0, 0, 0, 0, 0, Message(15)},  // include compressed
    /* 22 */ {DI_TEXT, 35, 12, 0, 0, 0, 0, 0, 0, Message(19)},      // exclude heading
    /* 23 */ {DI_CHECKBOX, 35, 13, 0, 0, 0, 0, 0, 0, Message(20)},  // exclude archive
    /* 24 */ {DI_CHECKBOX, 35, 14, 0, 0, 0, 0, 0, 0, Message(21)},  // exclude read-only
    /* 25 */ {DI_CHECKBOX, 35, 15, 0, 0, 0, 0, 0, 0, Message(22)},  // exclude hidden
    /* 26 */ {DI_CHECKBOX, 50, 13, 0, 0, 0, 0, 0, 0, Message(23)},  // exclude system
    /* 27 */ {DI_CHECKBOX, 50, 14, 0, 0, 0, 0, 0, 0, Message(24)},  // exclude directory
    /* 28 */ {DI_CHECKBOX, 50, 15, 0, 0, 0, 0, 0, 0, Message(25)},  // exclude compressed
    /* 29 */ {DI_TEXT, 5, 16, 0, 0, 0, 0, kSeparator, 0, Literal(kEmptyText)},  // separator
    /* 30 */ {DI_BUTTON, 0, 17, 0, 0, 0, 0, DIF_CENTERGROUP, 1, Message(0)},    // confirm
    /* 31 */ {DI_BUTTON, 0, 17, 0, 0, 0, 0, DIF_CENTERGROUP, 0, Message(1)},    // cancel
    /* 32 */ {DI_BUTTON, 0, 17, 0, 0, 0, 0, DIF_CENTERGROUP, 0, Message(2)},    // reset
};
static_assert(sizeof SelectionDialogTemplate / sizeof SelectionDialogTemplate[0] == 33);

const char* GetMessageText(int messageId) {
  const char* text = StartupInfo.GetMsg(StartupInfo.ModuleNumber, messageId);
  return text != nullptr ? text : kEmptyText;
}

void ExpandDialogItems(const DialogItemTemplate* templates, FarDialogItem* items, int count) {
  for (int i = 0; i < count; ++i) {
    const DialogItemTemplate& from = templates[i];
    FarDialogItem& item = items[i];
    item = FarDialogItem{};
    item.Type = from.Type;
    item.X1 = from.X1;
    item.Y1 = from.Y1;
    item.X2 = from.X2;
    item.Y2 = from.Y2;
    item.Focus = from.Focus;
    // The shared word holds a history name only where the host reads it so.
    if ((from.Flags & DIF_HISTORY) != 0) {
      item.History = reinterpret_cast<const char*>(from.Selected);
    } else {
      item.Selected = static_cast<int>(from.Selected);
    }
    item.Flags = from.Flags;
    item.DefaultButton = from.DefaultButton;
    const char* text = from.Data < kFirstLiteralText ? GetMessageText(static_cast<int>(from.Data))
                                                     : reinterpret_cast<const char*>(from.Data);
    SetItemText(item, text);
  }
}

void PrepareDialogTemplate(DialogItemTemplate (&copy)[kDialogItemCount]) {
  std::memcpy(copy, SelectionDialogTemplate, sizeof copy);
  copy[kMaskItem].Selected = reinterpret_cast<uintptr_t>(kMaskHistory);
  copy[kSizeItem].Selected = reinterpret_cast<uintptr_t>(kSizeHistory);
  copy[kTimeItem].Selected = reinterpret_cast<uintptr_t>(kTimeHistory);
  copy[kDateItem].Selected = reinterpret_cast<uintptr_t>(kDateHistory);
}

void FillDialogItems(const SettingsValues& values, FarDialogItem (&items)[kDialogItemCount]) {
  SetItemText(items[kMaskItem], ValueText(values.Mask, sizeof values.Mask));
  SetItemText(items[kSizeItem], ValueText(values.Size, sizeof values.Size));
  SetItemText(items[kTimeItem], ValueText(values.Time, sizeof values.Time));
  SetItemText(items[kDateItem], ValueText(values.Date, sizeof values.Date));
  // The stored state goes to the check box as it is, not reduced to 0 or 1.
  SetState(items[kClearFirstItem], static_cast<int>(values.ClearFirst));
  // A mode outside 0..2 sets none of the three.
  SetState(items[kSelectItem], values.Mode == 0 ? 1 : 0);
  SetState(items[kDeselectItem], values.Mode == 1 ? 1 : 0);
  SetState(items[kInvertItem], values.Mode == 2 ? 1 : 0);
  for (int bit = 0; bit < kAttributeCount; ++bit) {
    SetState(items[kFirstIncludeItem + bit], (values.InAttr >> bit & 1) != 0 ? 1 : 0);
    SetState(items[kFirstExcludeItem + bit], (values.ExAttr >> bit & 1) != 0 ? 1 : 0);
  }
}

void ResetDialogItems(const DialogItemTemplate (&copy)[kDialogItemCount],
                      FarDialogItem (&items)[kDialogItemCount]) {
  ExpandDialogItems(copy, items, kDialogItemCount);
  SetItemText(items[kMaskItem], "*.*");
  SetItemText(items[kSizeItem], "");
  SetItemText(items[kTimeItem], "");
  SetItemText(items[kDateItem], "");
  items[kMaskItem].Focus = 1;
  SetState(items[kSelectItem], 1);
  SetState(items[kDeselectItem], 0);
  SetState(items[kInvertItem], 0);
  SetState(items[kClearFirstItem], 0);
  for (int bit = 0; bit < kAttributeCount; ++bit) {
    SetState(items[kFirstIncludeItem + bit], 0);
    SetState(items[kFirstExcludeItem + bit], 0);
  }
}

void ReadDialogItems(const FarDialogItem (&items)[kDialogItemCount], DialogResult& result) {
  SettingsValues& values = result.Values;
  values = SettingsValues{};
  values.ClearFirst = static_cast<uint32_t>(items[kClearFirstItem].Selected);
  // With all three off the action is invert; the invert button is not asked.
  values.Mode = IsOn(items[kSelectItem]) ? 0 : IsOn(items[kDeselectItem]) ? 1 : 2;
  for (int bit = 0; bit < kAttributeCount; ++bit) {
    if (IsOn(items[kFirstIncludeItem + bit])) values.InAttr |= uint32_t{1} << bit;
    if (IsOn(items[kFirstExcludeItem + bit])) values.ExAttr |= uint32_t{1} << bit;
  }
  // Saved values are cut so that each text and its terminator fit the buffer
  // loading reads it back into; the texts used by this run stay whole.
  const std::string_view mask = ItemText(items[kMaskItem]);
  const std::string_view size = ItemText(items[kSizeItem]);
  const std::string_view time = ItemText(items[kTimeItem]);
  const std::string_view date = ItemText(items[kDateItem]);
  CopyText(values.Mask, sizeof values.Mask, mask);
  CopyText(values.Size, sizeof values.Size, size);
  CopyText(values.Time, sizeof values.Time, time);
  CopyText(values.Date, sizeof values.Date, date);
  CopyText(result.Mask, sizeof result.Mask, mask);
  CopyText(result.SizeText, sizeof result.SizeText, size);
  CopyText(result.TimeText, sizeof result.TimeText, time);
  CopyText(result.DateText, sizeof result.DateText, date);
}

void RunSelectionDialog(const SettingsValues& loaded, DialogResult& result) {
  result.Outcome = DialogOutcome::Abandoned;
  DialogItemTemplate copy[kDialogItemCount];
  PrepareDialogTemplate(copy);
  FarDialogItem items[kDialogItemCount];
  ExpandDialogItems(copy, items, kDialogItemCount);
  FillDialogItems(loaded, items);
  for (;;) {
    // X1 and Y1 of -1 let the host centre the dialog.
    const int closedBy = StartupInfo.Dialog(StartupInfo.ModuleNumber, -1, -1, kDialogWidth,
                                            kDialogHeight, kHelpTopic, items, kDialogItemCount);
    if (closedBy != kResetItem) {
      if (closedBy == kConfirmItem) {
        ReadDialogItems(items, result);
        result.Outcome = DialogOutcome::Confirmed;
      }
      return;
    }
    ResetDialogItems(copy, items);
  }
}

}  // namespace marlit
