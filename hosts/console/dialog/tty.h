// The dialog on the terminal (marlit -i): the plug-in's dialog drawn from its
// item records with ncurses on /dev/tty, so that standard output stays free
// for the selected names. It is a module of its own, marlit-tty.so, which the
// program loads for -i only: a run from the command line never loads ncurses.
#pragma once

#include <cstddef>
#include <string>

#include "console/dialog/answer.h"

namespace marlit::console {

// Opens /dev/tty and readies the screen for the dialogs to come (nothing is
// drawn yet). Returns false with a one-line reason when there is no terminal
// or its type is unknown.
bool StartTerminalDialog(std::string& error);

// Gives the terminal back; safe to call when it was never started.
void StopTerminalDialog();

// The DialogAnswerer of the screen: shows the dialog of `call` and lets a
// person fill it in. Returns the index of the button that closed it, or -1
// for Esc and F10.
int AnswerOnTerminal(const ConsoleOptions& options, const DialogCall& call);

// The three operations above, as the module hands them to the program.
struct TerminalDialogEntries {
  bool (*Start)(std::string& error);
  void (*Stop)();
  DialogAnswerer Answer;
};

// The module's one exported function, by this name: fills `entries` when
// `size` is the size of the record the program was built with, else
// returns false (a module of another build).
constexpr const char* kTerminalDialogEntryName = "MarlitTerminalDialog";
using TerminalDialogEntry = bool (*)(TerminalDialogEntries* entries, size_t size);

}  // namespace marlit::console
