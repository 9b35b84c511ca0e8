// The marlit command: lists a directory (or a tree) as the active panel,
// loads the plug-in, answers its selection dialog from the command line (or,
// with -i, lets a person fill it in on the terminal) and prints the selection
// the plug-in hands back.
//
// The panel is shown to the plug-in a window of entries at a time, so that
// memory does not grow with the tree. The first time the plug-in is shown an
// empty panel: its dialog is answered before anything is walked, so the walk
// knows from the start which entries the criteria look at. Every later
// window is the same command to the plug-in, its dialog answered with the
// values confirmed the first time (which it therefore stores once).
#pragma once

#include <cstddef>
#include <cstdio>

#include "console/panel/listing.h"

namespace marlit::console {

struct CommandStreams {
  std::FILE* Out = stdout;
  std::FILE* Err = stderr;
  size_t WindowEntries = kWindowEntries;
  // Where the program's modules and files are found from; null: the
  // program's own folder.
  const char* ProgramDirectory = nullptr;
};

// Runs the command the arguments give and returns its exit status: 0 when
// something was selected, 1 when nothing was (or the dialog was cancelled),
// 2 on an error. Throws std::bad_alloc when memory runs out.
int RunCommand(int argc, const char* const* argv, const CommandStreams& streams = {});

}  // namespace marlit::console
