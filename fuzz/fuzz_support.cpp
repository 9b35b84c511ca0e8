// Linux only, like the fuzz build: the scratch folder and whole-file helpers
// of the fuzz targets.
#include "fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace marlit::fuzz {
namespace {

std::string g_scratch;

// Removes every file of the scratch folder, then the folder. Targets make no
// folders inside it (a store's files only).
void RemoveScratch() {
  if (g_scratch.empty()) return;
  if (DIR* dir = opendir(g_scratch.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = g_scratch + "/" + entry->d_name;
      if (unlink(path.c_str()) != 0) rmdir(path.c_str());
    }
    closedir(dir);
  }
  rmdir(g_scratch.c_str());
  g_scratch.clear();
}

std::string ScratchBase() {
  struct stat info {};
  if (stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && access("/dev/shm", W_OK) == 0) {
    return "/dev/shm";
  }
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
}

}  // namespace

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "marlit fuzz: expectation failed: %s\n", what);
  RemoveScratch();
  std::abort();
}

const std::string& ScratchFolder() {
  if (g_scratch.empty()) {
    std::string pattern = ScratchBase() + "/marlit-fuzz-XXXXXX";
    Require(mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
    g_scratch = pattern;
    // Removed at a normal exit, and also when a sanitizer stops the run.
    std::atexit(RemoveScratch);
    __sanitizer_set_death_callback(RemoveScratch);
  }
  return g_scratch;
}

bool WriteWholeFile(const std::string& path, std::string_view bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  while (ok && !bytes.empty()) {
    const ssize_t put = write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    ok = put > 0;
    if (ok) bytes.remove_prefix(static_cast<size_t>(put));
  }
  return close(fd) == 0 && ok;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[65536];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    bytes.append(chunk, static_cast<size_t>(got));
  }
  close(fd);
  return true;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

uint32_t InputReader::Number(size_t bytes) {
  uint32_t value = 0;
  for (size_t i = 0; i < bytes && i < 4; ++i) {
    uint32_t byte = 0;
    if (Size > 0) {
      byte = *Data++;
      --Size;
    }
    value |= byte << (8 * i);
  }
  return value;
}

std::string_view InputReader::Bytes(size_t count) {
  if (count > Size) count = Size;
  const std::string_view bytes(reinterpret_cast<const char*>(Data), count);
  Data += count;
  Size -= count;
  return bytes;
}

std::string_view InputReader::Rest() { return Bytes(Size); }

}  // namespace marlit::fuzz
