// How the console host answers the plug-in's selection dialog. The host's
// Dialog service hands every call to one DialogAnswerer; the command line
// answers by default, and another way of answering (an interactive screen)
// needs only a function of the same type beside it.
#pragma once

#include "options.h"
#include "plugin/host.h"

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

// Answers one Dialog call of the command: `round` counts the calls of this
// run, 0 first. Changes the items as a user would and returns the index of the
// button that closed the dialog, or -1 for a dialog closed without one.
// `items` holds kSelectionDialogItems records.
using DialogAnswerer = int (*)(const ConsoleOptions& options, int round, FarDialogItem* items);

// The command-line answer. Without --last it first presses reset, so the
// plug-in puts its defaults in; on the next call (at once with --last, on the
// values the plug-in loaded) it sets the fields the options name and presses
// confirm. Any later call is cancelled.
int AnswerFromCommandLine(const ConsoleOptions& options, int round, FarDialogItem* items);

// Puts the options that are given into the dialog's items and leaves every
// other field as it is.
void ApplyOptionsToItems(const ConsoleOptions& options, FarDialogItem* items);

}  // namespace marlit::console
