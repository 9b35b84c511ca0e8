// Where the console program finds its own files, relative to where the
// program itself is: the build tree and any installed tree (~/.local,
// /opt/marlit, /usr) work alike, and a tree can be moved whole.
#pragma once

#include <string>

namespace marlit::console {

struct ProgramPlaces {
  std::string Modules;  // marlit.so, and any other module the program loads
  std::string Data;     // the language and help files
};

// The places for a program in `programDirectory`. A place is the program's
// own folder when that holds the file the place is known by (marlit.so,
// marlit_eng.lng): the build tree, or a program copied with its files. Else
// it is the folder the install rules put those files in, relative to the
// program's (e.g. ../lib/marlit and ../share/marlit), whether it exists or
// not, so that a message can name where a missing file belongs.
ProgramPlaces LocateProgramPlaces(const std::string& programDirectory);

}  // namespace marlit::console
