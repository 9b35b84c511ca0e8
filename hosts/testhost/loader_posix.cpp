// POSIX: loads the module with dlopen, and keeps the registry of the build --
// the settings store's file named by $MARLIT_REGISTRY -- in a temporary
// directory of the test process, watched with inotify.
#include <dirent.h>
#include <dlfcn.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "testhost/testhost.h"

namespace marlit::testhost {

namespace {

std::string g_directory;  // this process's registry directory
std::string g_file;       // the registry file in it
int g_watch = -1;

// Removes the directory with everything the store left in it: the file, its
// lock file and any temporary file of a write.
void RemoveDirectory() {
  if (g_directory.empty()) return;
  if (DIR* dir = opendir(g_directory.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") unlink((g_directory + "/" + name).c_str());
    }
    closedir(dir);
  }
  rmdir(g_directory.c_str());
}

}  // namespace

void* OpenLibrary(const char* path, std::string& error) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "dlopen failed";
  }
  return library;
}

void* FindInLibrary(void* library, const char* name) { return dlsym(library, name); }

void CloseLibrary(void* library) { dlclose(library); }

void PrepareRegistry() {
  if (g_directory.empty()) {
    char name[] = "/tmp/marlit-testhost-XXXXXX";
    if (mkdtemp(name) == nullptr) return;
    g_directory = name;
    g_file = g_directory + "/registry.reg";
    std::atexit(RemoveDirectory);
  }
  setenv("MARLIT_REGISTRY", g_file.c_str(), 1);
}

// Every test process holds one test's keys at a time, so removing the test's
// key is removing the file.
void RemoveRegistryKey(const std::string& rootKey) {
  static_cast<void>(rootKey);
  if (!g_file.empty()) std::remove(g_file.c_str());
}

bool BeginRegistryWatch() {
  if (g_directory.empty()) return false;
  g_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (g_watch < 0) return false;
  if (inotify_add_watch(
          g_watch, g_directory.c_str(),
          IN_OPEN | IN_ACCESS | IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_ATTRIB) < 0) {
    close(g_watch);
    g_watch = -1;
    return false;
  }
  return true;
}

int EndRegistryWatch() {
  if (g_watch < 0) return -1;
  int events = 0;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t length = read(g_watch, buffer, sizeof buffer);
    if (length <= 0) break;
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      ++events;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  close(g_watch);
  g_watch = -1;
  return events;
}

}  // namespace marlit::testhost
