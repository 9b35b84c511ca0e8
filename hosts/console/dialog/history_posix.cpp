// Linux (POSIX) file handling of the console host's input histories: reading
// the file and replacing it whole through a temporary file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "console/dialog/history.h"

namespace marlit::console {
namespace {

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t wrote = write(fd, text.data(), text.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    text.remove_prefix(static_cast<size_t>(wrote));
  }
  return true;
}

// Creates every missing directory of `directory`, mode 0700.
bool MakeDirectories(const std::string& directory) {
  for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    const std::string part = directory.substr(0, slash);
    if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

}  // namespace

HistoryStore LoadHistory(const std::string& path) {
  if (path.empty()) return {};
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat facts {};
  std::string text;
  if (fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) &&
      static_cast<uint64_t>(facts.st_size) <= kHistoryFileBytes) {
    char block[65536];
    while (text.size() <= kHistoryFileBytes) {
      const ssize_t got = read(fd, block, sizeof block);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      text.append(block, static_cast<size_t>(got));
    }
  }
  close(fd);
  if (text.size() > kHistoryFileBytes) return {};
  return ParseHistory(text);
}

bool SaveHistory(const std::string& path, const HistoryStore& store, std::string& error) {
  const size_t slash = path.rfind('/');
  if (path.empty() || slash == std::string::npos) {
    error = "no place for the input history";
    return false;
  }
  if (slash > 0 && !MakeDirectories(path.substr(0, slash))) {
    error = "cannot create " + path.substr(0, slash) + ": " + std::strerror(errno);
    return false;
  }
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = WriteAll(fd, FormatHistory(store)) && fsync(fd) == 0;
  const int saved = errno;
  if (close(fd) != 0 || !written || rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(written ? errno : saved);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace marlit::console
