#include <optional>
#include <string>

#include "dialog_answer.h"
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
  const int confirmRound = options.Last ? 0 : 1;
  if (round < confirmRound) return kResetButton;
  if (round > confirmRound) return kCancelButton;
  ApplyOptionsToItems(options, items);
  return kConfirmButton;
}

}  // namespace marlit::console
