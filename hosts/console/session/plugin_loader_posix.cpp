// Linux only: loads the plug-in with dlopen, as the file manager on Windows
// does with LoadLibrary and GetProcAddress.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "console/session/plugin_loader.h"

namespace marlit::console {

namespace {

std::string FindProgramDirectory() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  const std::string whole(path, static_cast<size_t>(length));
  const size_t slash = whole.rfind('/');
  return slash == std::string::npos ? std::string() : whole.substr(0, slash);
}

}  // namespace

std::string ProgramDirectory() {
  static const std::string directory = FindProgramDirectory();
  return directory;
}

bool LoadPlugin(const std::string& path, PluginEntries& entries, std::string& error) {
  // A bare name would send dlopen searching the library path; the module is
  // always taken from the file named.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = dlerror();
    error = "cannot load the plug-in: " + std::string(why != nullptr ? why : path.c_str());
    return false;
  }
  void* const setStartupInfo = dlsym(module, "SetStartupInfo");
  void* const getPluginInfo = dlsym(module, "GetPluginInfo");
  void* const openPlugin = dlsym(module, "OpenPlugin");
  if (setStartupInfo == nullptr || getPluginInfo == nullptr || openPlugin == nullptr) {
    error = "'" + path + "' is not a marlit plug-in: it lacks " +
            (setStartupInfo == nullptr  ? "SetStartupInfo"
             : getPluginInfo == nullptr ? "GetPluginInfo"
                                        : "OpenPlugin");
    dlclose(module);
    return false;
  }
  entries.SetStartupInfo = reinterpret_cast<SetStartupInfoEntry>(setStartupInfo);
  entries.GetPluginInfo = reinterpret_cast<GetPluginInfoEntry>(getPluginInfo);
  entries.OpenPlugin = reinterpret_cast<OpenPluginEntry>(openPlugin);
  return true;
}

bool LoadTerminalDialog(const std::string& path, TerminalDialogEntries& entries,
                        std::string& error) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = dlerror();
    error = "-i cannot load the terminal dialog: " + std::string(why != nullptr ? why : path);
    return false;
  }
  const auto entry = reinterpret_cast<TerminalDialogEntry>(dlsym(module, kTerminalDialogEntryName));
  if (entry == nullptr || !entry(&entries, sizeof entries)) {
    error = "-i cannot use the terminal dialog '" + path + "': it belongs to another build";
    dlclose(module);
    return false;
  }
  return true;
}

}  // namespace marlit::console
