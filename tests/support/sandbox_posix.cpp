// The POSIX sandbox: a fresh folder for each test, with the registry file in
// it named by $MARLIT_REGISTRY.
#include <stdlib.h>

#include <filesystem>

#include "support/sandbox.h"

namespace marlit {
namespace {

std::string Folder;

}  // namespace

bool EnterSandbox(std::string& file) {
  std::string pattern = (std::filesystem::temp_directory_path() / "marlit-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return false;
  Folder = pattern;
  file = Folder + "/registry.reg";
  return setenv("MARLIT_REGISTRY", file.c_str(), 1) == 0;
}

void LeaveSandbox() {
  unsetenv("MARLIT_REGISTRY");
  std::error_code ignored;
  if (!Folder.empty()) std::filesystem::remove_all(Folder, ignored);
  Folder.clear();
}

}  // namespace marlit
