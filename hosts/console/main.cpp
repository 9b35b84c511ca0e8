// marlit: the console host. Lists a directory as the active panel, loads the
// plug-in, answers its selection dialog from the command line (or, with -i,
// lets a person fill it in on the terminal) and prints the selection the
// plug-in hands back.
#include <cstdio>
#include <new>

#include "console/session/command.h"

// Memory can run out anywhere, for a long --selected list say: the program
// then ends with a message, not with an abort.
int main(int argc, char** argv) {
  try {
    return marlit::console::RunCommand(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("marlit: not enough memory\n", stderr);
    return 2;
  }
}
