#include "console/session/program_files.h"

#include <unistd.h>

#include <filesystem>

// MARLIT_MODULE_DIR_FROM_BIN and MARLIT_DATA_DIR_FROM_BIN: the install
// layout relative to the folder of the installed program, set by the build
// from its install directories.

namespace marlit::console {
namespace {

std::string Place(const std::string& programDirectory, const char* knownBy, const char* installed) {
  if (access((programDirectory + "/" + knownBy).c_str(), F_OK) == 0) return programDirectory;
  std::string place =
      (std::filesystem::path(programDirectory) / installed).lexically_normal().string();
  if (place.size() > 1 && place.back() == '/') place.pop_back();
  return place;
}

}  // namespace

ProgramPlaces LocateProgramPlaces(const std::string& programDirectory) {
  return ProgramPlaces{Place(programDirectory, "marlit.so", MARLIT_MODULE_DIR_FROM_BIN),
                       Place(programDirectory, "marlit_eng.lng", MARLIT_DATA_DIR_FROM_BIN)};
}

}  // namespace marlit::console
