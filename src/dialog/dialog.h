// The selection dialog: a constant template of 33 items, its expansion into
// the host's dialog items, and one run of the dialog with reset and read-back.
// Every caption comes from the plug-in's language file through the host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/records.h"
#include "settings/settings.h"

namespace marlit {

constexpr int kDialogItemCount = 33;

// A template Data word below this value is a message id; any other value is
// the address of a zero-terminated literal text.
constexpr uintptr_t kFirstLiteralText = 2000;

// The compact description of one dialog item.
struct DialogItemTemplate {
  uint8_t Type;
  uint8_t X1, Y1, X2, Y2;
  uint8_t Focus;
  uintptr_t Selected;  // a state; for DIF_HISTORY edit items the history name
  uint32_t Flags;
  uint8_t DefaultButton;
  uintptr_t Data;  // a message id, or a literal text
};

// Items whose states and texts the dialog fills and reads back.
constexpr int kMaskItem = 2;
constexpr int kSelectItem = 4;
constexpr int kDeselectItem = 5;
constexpr int kInvertItem = 6;
constexpr int kClearFirstItem = 7;
constexpr int kSizeItem = 10;
constexpr int kTimeItem = 12;
constexpr int kDateItem = 14;
constexpr int kFirstIncludeItem = 16;  // bit k of "InAttr": item 16 + k
constexpr int kFirstExcludeItem = 23;  // bit k of "ExAttr": item 23 + k
constexpr int kConfirmItem = 30;
constexpr int kCancelItem = 31;
constexpr int kResetItem = 32;

// The message that titles the dialog and names the plug-in's menu entry.
constexpr int kTitleMessage = 3;

// The dialog's size on screen and its help topic.
constexpr int kDialogWidth = 70;
constexpr int kDialogHeight = 20;
constexpr const char* kHelpTopic = "Contents";

// The input-history names of the four edit items.
constexpr const char* kMaskHistory = "Masks";
constexpr const char* kSizeHistory = "mrl_size";
constexpr const char* kTimeHistory = "mrl_time";
constexpr const char* kDateHistory = "mrl_date";

// The dialog as a constant table, item 0 first. Never altered: each run works
// on its own copy, into which the history names are placed.
extern const DialogItemTemplate SelectionDialogTemplate[kDialogItemCount];

// The host's text for a message id of the plug-in's language file, unchanged.
// A host that has no text for the id yields the empty text.
const char* GetMessageText(int messageId);

// Fills items 0 to count - 1 from the templates of the same index; message
// texts are fetched anew. Texts longer than an item holds are cut to 511
// characters. Does nothing for a count of 0 or less.
void ExpandDialogItems(const DialogItemTemplate* templates, FarDialogItem* items, int count);

enum class DialogOutcome {
  Abandoned,  // cancelled or closed: nothing is to be saved or marked
  Confirmed,
};

// What a run of the dialog yields. Values and the texts are set only when
// the outcome is Confirmed.
struct DialogResult {
  DialogOutcome Outcome;
  // The eight values to save, each text cut to what loading reads back.
  SettingsValues Values;
  // The texts as the dialog returned them, whole: the mask matched against
  // names and the criterion texts to parse.
  char Mask[kDialogTextSize];
  char SizeText[kDialogTextSize];
  char TimeText[kDialogTextSize];
  char DateText[kDialogTextSize];
};

// The dialog's own steps, shared by RunSelectionDialog and its tests.
// Copies the template and places the four history names into the copy.
void PrepareDialogTemplate(DialogItemTemplate (&copy)[kDialogItemCount]);
// Puts the loaded values into the expanded items.
void FillDialogItems(const SettingsValues& values, FarDialogItem (&items)[kDialogItemCount]);
// Expands the copy again and puts the defaults into the items.
void ResetDialogItems(const DialogItemTemplate (&copy)[kDialogItemCount],
                      FarDialogItem (&items)[kDialogItemCount]);
// Reads the values to save and the whole texts from the confirmed items.
void ReadDialogItems(const FarDialogItem (&items)[kDialogItemCount], DialogResult& result);

// Builds the dialog from the loaded values and shows it through the host
// until it is confirmed or abandoned; the reset button puts the defaults back
// and shows it again, without touching the settings store.
void RunSelectionDialog(const SettingsValues& loaded, DialogResult& result);

}  // namespace marlit
