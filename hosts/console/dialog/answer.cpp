#include <cstdio>
#include <optional>
#include <string>

#include "console/dialog/answer.h"
#include "platform/text.h"

namespace marlit::console {
namespace {

void PutText(const std::optional<std::string>& text, FarDialogItem& item) {
  if (text) CopyText(item.Data, kDialogTextSize, *text);
}

void PutAttributes(const std::optional<uint32_t>& bits, FarDialogItem* boxes) {
  if (!bits) return;
  for (int k = 0; k < kAttributeBoxes; ++k) boxes[k].Selected = (*bits >> k & 1) != 0 ? 1 : 0;
}

// The call on which the command line confirms, and the screen starts: the
// first, on the values the plug-in loaded, or the second, after a reset.
int ConfirmRound(const ConsoleOptions& options) { return StartsFromStored(options) ? 0 : 1; }

bool IsSelectionDialog(const DialogCall& call) {
  return call.Items != nullptr && call.Count == kSelectionDialogItems;
}

}  // namespace

void ApplyOptionsToItems(const ConsoleOptions& options, FarDialogItem* items) {
  PutText(options.Mask, items[kMaskField]);
  PutText(options.Size, items[kSizeField]);
  PutText(options.Time, items[kTimeField]);
  PutText(options.Date, items[kDateField]);
  if (options.Action) {
    for (int k = 0; k < 3; ++k)
      items[kFirstActionButton + k].Selected = *options.Action == k ? 1 : 0;
  }
  if (options.ClearFirst) items[kClearFirstBox].Selected = *options.ClearFirst ? 1 : 0;
  PutAttributes(options.Include, items + kFirstIncludeBox);
  PutAttributes(options.Exclude, items + kFirstExcludeBox);
}

int AnswerFromCommandLine(const ConsoleOptions& options, int round, FarDialogItem* items) {
  const int confirmRound = ConfirmRound(options);
  if (round < confirmRound) return kResetButton;
  if (round > confirmRound) return kCancelButton;
  ApplyOptionsToItems(options, items);
  return kConfirmButton;
}

int AnswerCallFromCommandLine(const ConsoleOptions& options, const DialogCall& call) {
  if (!IsSelectionDialog(call)) {
    std::fprintf(stderr, "marlit: the plug-in asked for a dialog this host does not know\n");
    return -1;
  }
  return AnswerFromCommandLine(options, call.Round, call.Items);
}

int PrepareScreenRound(const ConsoleOptions& options, const DialogCall& call) {
  // Another dialog is shown as it comes: the options belong to this one.
  if (!IsSelectionDialog(call)) return -1;
  const int confirmRound = ConfirmRound(options);
  if (call.Round < confirmRound) return kResetButton;
  if (call.Round == confirmRound) ApplyOptionsToItems(options, call.Items);
  return -1;
}

}  // namespace marlit::console
