// Windows: loads the module with LoadLibrary and GetProcAddress, and keeps
// each test's values in the real registry under HKEY_CURRENT_USER\<root key>,
// deleted afterwards. The registry cannot tell reads, so it is not watched.
#include "testhost/testhost.h"

// After the host records: windows.h defines macros that share their names.
#include <windows.h>

#include <string>

namespace marlit::testhost {

namespace {

// A path of the build tree as Windows names it: Wine maps the Unix root to
// drive Z:.
std::string WindowsPath(const char* path) {
  std::string result = path;
  if (!result.empty() && result.front() == '/') result.insert(0, "Z:");
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return result;
}

}  // namespace

void* OpenLibrary(const char* path, std::string& error) {
  HMODULE library = LoadLibraryA(WindowsPath(path).c_str());
  if (library == nullptr) error = "LoadLibrary failed with error " + std::to_string(GetLastError());
  return library;
}

void* FindInLibrary(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

void PrepareRegistry() {}

// Deletes the plug-in key, then the root key and its parents as long as they
// are left empty (a key with subkeys is not deleted), stopping below the
// first component.
void RemoveRegistryKey(const std::string& rootKey) {
  RegDeleteKeyA(HKEY_CURRENT_USER, (rootKey + "\\Marlit").c_str());
  std::string key = rootKey;
  for (;;) {
    const size_t separator = key.rfind('\\');
    if (separator == std::string::npos) break;
    if (RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str()) != ERROR_SUCCESS) break;
    key.resize(separator);
  }
}

bool BeginRegistryWatch() { return false; }

int EndRegistryWatch() { return -1; }

}  // namespace marlit::testhost
