// Linux only: reads a directory into the console host's panel with openat,
// readdir and statx (fstatat where the kernel lacks statx), and asks the file
// system for its compression flag. The panel of the file manager on Windows
// comes from FindFirstFile; this file stands in for that.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "listing.h"
#include "platform/text.h"

namespace marlit::console {
namespace {

constexpr uint64_t kLastStamp = uint64_t{INT64_MAX};

// How describing one entry ended.
enum class Described { Ok, Vanished, Denied, Failed };

Described Translate(int error) {
  if (error == ENOENT || error == ENOTDIR) return Described::Vanished;
  if (error == EACCES) return Described::Denied;
  return Described::Failed;
}

// Whether the file system marks the file compressed (FS_COMPR_FL). Opened
// without blocking so that a FIFO put in the file's place cannot stall us.
bool AskCompressed(int dirFd, const char* name) {
  const int fd = openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  const bool compressed = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_COMPR_FL) != 0;
  close(fd);
  return compressed;
}

bool MayBeCompressed(uint32_t mode) { return S_ISREG(mode) || S_ISDIR(mode); }

// Set once the kernel refused statx; fstatat serves from then on.
bool g_noStatx = false;

// stat or lstat of one entry, by statx where the kernel has it: the same call
// brings the compression flag where the file system reports it there.
Described StatEntry(int dirFd, const char* name, int followFlag, EntryFacts& facts,
                    bool& compressionKnown) {
  if (!g_noStatx) {
    struct statx sx {};
    if (statx(dirFd, name, followFlag | AT_NO_AUTOMOUNT,
              STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME, &sx) == 0) {
      facts.Mode = sx.stx_mode;
      facts.Size = sx.stx_size;
      facts.WriteSeconds = sx.stx_mtime.tv_sec;
      facts.WriteNanoseconds = sx.stx_mtime.tv_nsec;
      compressionKnown = (sx.stx_attributes_mask & STATX_ATTR_COMPRESSED) != 0;
      facts.Compressed = (sx.stx_attributes & STATX_ATTR_COMPRESSED) != 0;
      return Described::Ok;
    }
    if (errno != ENOSYS) return Translate(errno);
    g_noStatx = true;
  }
  struct stat st {};
  if (fstatat(dirFd, name, &st, followFlag | AT_NO_AUTOMOUNT) != 0) return Translate(errno);
  facts.Mode = st.st_mode;
  facts.Size = static_cast<uint64_t>(st.st_size);
  facts.WriteSeconds = st.st_mtim.tv_sec;
  facts.WriteNanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  compressionKnown = false;
  facts.Compressed = false;
  return Described::Ok;
}

// A symbolic link is described by its target, or by itself when the target
// cannot be reached.
Described DescribeEntry(int dirFd, const char* name, EntryFacts& facts) {
  bool compressionKnown = false;
  Described result = StatEntry(dirFd, name, 0, facts, compressionKnown);
  if (result != Described::Ok) {
    result = StatEntry(dirFd, name, AT_SYMLINK_NOFOLLOW, facts, compressionKnown);
    if (result != Described::Ok) return result;
    if (S_ISLNK(facts.Mode)) compressionKnown = true;  // the link itself is never compressed
  }
  if (!compressionKnown && MayBeCompressed(facts.Mode)) {
    facts.Compressed = AskCompressed(dirFd, name);
  }
  return Described::Ok;
}

void Warn(std::string_view name, const char* what) {
  std::fprintf(stderr, "marlit: %.*s: %s\n", static_cast<int>(name.size()), name.data(), what);
}

// The names of a directory, in one block of zero-terminated texts.
struct NameList {
  std::string Bytes;
  std::vector<uint32_t> Offsets;
};

bool ReadNames(DIR* dir, NameList& names) {
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    const char* n = entry->d_name;
    if (!(n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')))) {
      names.Offsets.push_back(static_cast<uint32_t>(names.Bytes.size()));
      names.Bytes.append(n, std::strlen(n) + 1);
    }
    errno = 0;
  }
  return errno == 0;
}

}  // namespace

uint64_t StampOfUnixTime(int64_t seconds, uint32_t nanoseconds) {
  if (seconds < -kSeconds1601To1970) return 0;
  // Unsigned: the sum cannot overflow for any seconds from 1601 on.
  const uint64_t since1601 = static_cast<uint64_t>(seconds) + uint64_t{kSeconds1601To1970};
  if (since1601 > (kLastStamp - nanoseconds / 100) / kTicksPerSecond) return kLastStamp;
  return since1601 * kTicksPerSecond + nanoseconds / 100;
}

int64_t UnixSecondsOfStamp(uint64_t stamp) {
  return static_cast<int64_t>(stamp / kTicksPerSecond) - kSeconds1601To1970;
}

uint32_t AttributesOf(std::string_view name, uint32_t mode, bool compressed) {
  uint32_t attributes = 0;
  if (S_ISDIR(mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (S_ISREG(mode)) attributes |= FILE_ATTRIBUTE_ARCHIVE;
  if (S_ISCHR(mode) || S_ISBLK(mode) || S_ISFIFO(mode) || S_ISSOCK(mode)) {
    attributes |= FILE_ATTRIBUTE_SYSTEM;
  }
  if (!name.empty() && name.front() == '.') attributes |= FILE_ATTRIBUTE_HIDDEN;
  if ((mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  if (compressed && MayBeCompressed(mode)) attributes |= FILE_ATTRIBUTE_COMPRESSED;
  return attributes;
}

bool FillPanelItem(std::string_view name, const EntryFacts& facts, PluginPanelItem& item) {
  if (name.size() >= kMaxPath) return false;
  item = PluginPanelItem{};
  HostFindData& data = item.FindData;
  CopyText(data.cFileName, kMaxPath, name);
  const uint64_t size = S_ISDIR(facts.Mode) ? 0 : facts.Size;
  data.nFileSizeHigh = static_cast<uint32_t>(size >> 32);
  data.nFileSizeLow = static_cast<uint32_t>(size);
  data.ftLastWriteTime = FileTimeOf(StampOfUnixTime(facts.WriteSeconds, facts.WriteNanoseconds));
  data.dwFileAttributes = AttributesOf(name, facts.Mode, facts.Compressed);
  return true;
}

bool ListDirectory(const char* path, std::vector<PluginPanelItem>& items, int& problems,
                   std::string& error) {
  const auto fail = [&](const char* what, int code) {
    error = std::string(what) + " '" + path + "': " + std::strerror(code);
    return false;
  };
  const int dirFd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return fail("cannot open directory", errno);
  DIR* dir = fdopendir(dirFd);
  if (dir == nullptr) {
    const int code = errno;
    close(dirFd);
    return fail("cannot open directory", code);
  }
  NameList names;
  const bool read = ReadNames(dir, names);
  const int readError = errno;
  if (!read) {
    closedir(dir);
    return fail("cannot read directory", readError);
  }

  const char* const bytes = names.Bytes.data();
  std::sort(names.Offsets.begin(), names.Offsets.end(),
            [bytes](uint32_t a, uint32_t b) { return std::strcmp(bytes + a, bytes + b) < 0; });

  items.clear();
  items.reserve(names.Offsets.size());
  for (const uint32_t offset : names.Offsets) {
    const char* const name = bytes + offset;
    const std::string_view view(name);
    if (view.size() >= kMaxPath) {
      Warn(view, "name longer than 259 bytes, left out");
      ++problems;
      continue;
    }
    EntryFacts facts{};
    const Described described = DescribeEntry(dirFd, name, facts);
    if (described == Described::Vanished) continue;
    if (described == Described::Denied) {
      // Without search permission no entry can be described.
      closedir(dir);
      return fail("cannot read directory", EACCES);
    }
    if (described == Described::Failed) {
      const std::string reason = std::string("left out: ") + std::strerror(errno);
      Warn(view, reason.c_str());
      ++problems;
      continue;
    }
    items.emplace_back();
    FillPanelItem(view, facts, items.back());
  }
  closedir(dir);
  return true;
}

}  // namespace marlit::console
