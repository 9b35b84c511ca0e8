// How the console host answers the plug-in's selection dialog. The host's
// Dialog service hands every call to one DialogAnswerer: the command line
// answers by default, the terminal screen (marlit -i) is the other one.
#pragma once

#include "console/cli/options.h"
#include "host/records.h"

namespace marlit::console {

// The layout of the plug-in's selection dialog, as the host sees it.
constexpr int kSelectionDialogItems = 33;
constexpr int kMaskField = 2;
constexpr int kFirstActionButton = 4;  // select, deselect, invert: 4, 5, 6
constexpr int kClearFirstBox = 7;
constexpr int kSizeField = 10;
constexpr int kTimeField = 12;
constexpr int kDateField = 14;
constexpr int kFirstIncludeBox = 16;  // attribute bit k: item 16 + k
constexpr int kFirstExcludeBox = 23;  // attribute bit k: item 23 + k
constexpr int kAttributeBoxes = 6;
constexpr int kConfirmButton = 30;
constexpr int kCancelButton = 31;
constexpr int kResetButton = 32;

// One call of the host's Dialog service as the plug-in made it, with what the
// host adds: where its help file and its input histories are.
struct DialogCall {
  int X1 = -1;  // -1 with Y1 -1: centred, X2 and Y2 are then width and height
  int Y1 = -1;
  int X2 = 0;
  int Y2 = 0;
  const char* HelpTopic = nullptr;
  FarDialogItem* Items = nullptr;
  int Count = 0;
  int Round = 0;                 // the calls of this run before this one
  const char* HelpFile = "";     // the plug-in's help file; "" none
  bool HelpInCp866 = false;      // the help file is Russian, in code page 866
  const char* HistoryFile = "";  // where the input histories live; "" none
};

// Answers one Dialog call of the command. Changes the items as a user would
// and returns the index of the button that closed the dialog, or -1 for a
// dialog closed without one.
using DialogAnswerer = int (*)(const ConsoleOptions& options, const DialogCall& call);

// The command-line answer. Unless it starts from the stored values (see
// StartsFromStored) it first presses reset, so the plug-in puts its defaults
// in; on the next call (at once on the values the plug-in loaded, when it
// starts from them) it sets the fields the options name and presses
// confirm. Any later call is cancelled. `items` holds kSelectionDialogItems
// records.
int AnswerFromCommandLine(const ConsoleOptions& options, int round, FarDialogItem* items);

// The same as a DialogAnswerer: refuses, with a message, any dialog but the
// plug-in's selection dialog.
int AnswerCallFromCommandLine(const ConsoleOptions& options, const DialogCall& call);

// Puts the options that are given into the dialog's items and leaves every
// other field as it is.
void ApplyOptionsToItems(const ConsoleOptions& options, FarDialogItem* items);

// What the screen does before it shows the selection dialog of `call`: the
// command-line options give the fields their starting values exactly where
// the command line would confirm: on the stored values (for -i unless
// --reset), or after the reset the command line presses first. Returns the
// button to answer at once without showing anything (the reset the command
// line presses first), or -1 when the dialog is to be shown.
int PrepareScreenRound(const ConsoleOptions& options, const DialogCall& call);

}  // namespace marlit::console
