// Linux only: the reason for a failed save is looked for in the file system.
#include "console/session/store_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/module.h"
#include "platform/registry.h"

namespace marlit::console {
namespace {

// A number read with a default that differs from the value looked for:
// missing, unreadable and different all count as not saved.
bool NumberSaved(const char* name, uint32_t value) {
  return GetNumber(kHkeyCurrentUser, "", name, ~value) == value;
}

template <size_t Capacity>
bool TextSaved(const char* name, const char (&value)[Capacity]) {
  char stored[Capacity];
  return GetString(kHkeyCurrentUser, "", name, stored, "", Capacity) != 0 &&
         std::strncmp(stored, value, Capacity) == 0;
}

std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

// Why the store at `file` took no values. Only a guess at the cause: the
// read back is what tells that the save failed.
std::string Reason(const std::string& file, const char* keyPath) {
  if (file.empty()) {
    return "there is no place for them (set HOME, XDG_CONFIG_HOME or MARLIT_REGISTRY)";
  }
  struct stat info {};
  if (stat(file.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) return file + " is not a regular file";
    if (access(file.c_str(), R_OK) != 0) return Failure("cannot read " + file);
    const std::string folder = Parent(file);
    if (access(folder.c_str(), W_OK | X_OK) != 0) return Failure("cannot write in " + folder);
    uint32_t size = 0;
    if (ReadRegistryValue(kHkeyCurrentUser, keyPath, "Mask", nullptr, &size, nullptr) ==
        RegistryResult::Failed) {
      return file + " is not a settings file, so it is left alone";
    }
    return "cannot write " + file;
  }
  // The nearest folder above that exists is where creating stopped.
  for (std::string folder = Parent(file);; folder = Parent(folder)) {
    if (stat(folder.c_str(), &info) == 0) {
      if (!S_ISDIR(info.st_mode)) return "cannot create " + file + ": " + folder + " is no folder";
      if (access(folder.c_str(), W_OK | X_OK) != 0) return Failure("cannot create " + file);
      break;
    }
    if (errno != ENOENT) return Failure("cannot create " + file);
    if (folder == "/" || folder == ".") break;
  }
  return "cannot create " + file;
}

}  // namespace

std::string CheckSavedSettings(const SettingsValues& saved, const char* rootKey) {
  // The program's own copy of the module state: the key the plug-in uses.
  if (!FormPluginKeyPath(rootKey)) return {};
  // One reading of the store for all eight values.
  BeginRegistryBatch();
  const bool all = NumberSaved("ClearFirst", saved.ClearFirst) && NumberSaved("Mode", saved.Mode) &&
                   NumberSaved("InAttr", saved.InAttr) && NumberSaved("ExAttr", saved.ExAttr) &&
                   TextSaved("Mask", saved.Mask) && TextSaved("Date", saved.Date) &&
                   TextSaved("Time", saved.Time) && TextSaved("Size", saved.Size);
  EndRegistryBatch();
  if (all) return {};
  return "the criteria were not saved: " + Reason(RegistryStoreLocation(), PluginKeyPath);
}

}  // namespace marlit::console
