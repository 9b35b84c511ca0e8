// The dialog on the terminal (marlit -i): the plug-in's dialog drawn from its
// item records with ncurses on /dev/tty, so that standard output stays free
// for the selected names.
#pragma once

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

}  // namespace marlit::console
