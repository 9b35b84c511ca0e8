// Linux only: reads a directory into the console host's panel with openat,
// readdir and statx (fstatat where the kernel lacks statx), and asks the file
// system for its compression flag. The panel of the file manager on Windows
// comes from FindFirstFile; this file stands in for that.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "console/listing.h"
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
std::atomic<bool> g_noStatx{false};

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

// The names of a directory, in one block of zero-terminated texts, with a
// sort key for each: its first eight bytes, so that most comparisons never
// reach the texts.
struct NameEntry {
  uint64_t Key;
  uint32_t Offset;
  uint32_t Length;
};

struct NameList {
  std::string Bytes;
  std::vector<NameEntry> Entries;
};

uint64_t SortKey(const char* name, size_t length) {
  uint64_t key = 0;
  for (size_t i = 0; i < 8; ++i) {
    key = key << 8 | (i < length ? static_cast<unsigned char>(name[i]) : 0u);
  }
  return key;
}

bool ReadNames(DIR* dir, NameList& names) {
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    const char* n = entry->d_name;
    if (!(n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')))) {
      const size_t length = std::strlen(n);
      names.Entries.push_back(NameEntry{SortKey(n, length),
                                        static_cast<uint32_t>(names.Bytes.size()),
                                        static_cast<uint32_t>(length)});
      names.Bytes.append(n, length + 1);
    }
    errno = 0;
  }
  return errno == 0;
}

// Byte order, as strcmp compares.
void SortNames(NameList& names) {
  const char* const bytes = names.Bytes.data();
  std::sort(names.Entries.begin(), names.Entries.end(),
            [bytes](const NameEntry& a, const NameEntry& b) {
              if (a.Key != b.Key) return a.Key < b.Key;
              return std::strcmp(bytes + a.Offset, bytes + b.Offset) < 0;
            });
}

// A large panel is written once from end to end: large pages spare the
// kernel a fault for every 4 KiB of it. Only the whole 2 MiB pages inside the
// block are asked for; a refusal changes nothing.
void AskForLargePages(void* block, size_t bytes) {
  constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kLargePage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

// How describing one listed entry ended; one byte each, beside the panel.
enum class Outcome : uint8_t { Ok, Vanished, Denied, Failed, NameTooLong };

// The number of processors this process may run on.
size_t Processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<size_t>(std::max(1, CPU_COUNT(&set)));
}

// Describes every listed entry straight into its panel item, in sorted
// order. Most of a listing's time is the kernel's work for each entry, so
// several threads share it, a block of entries at a time, where there is
// more than one block; each writes only its own entries' items, outcomes and
// errors.
void DescribeAll(int dirFd, const NameList& names, PluginPanelItem* items,
                 std::vector<Outcome>& outcomes, std::vector<int>& errors) {
  const size_t count = names.Entries.size();
  outcomes.assign(count, Outcome::Ok);
  errors.assign(count, 0);
  constexpr size_t kBlock = 512;
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t begin = next.fetch_add(kBlock); begin < count; begin = next.fetch_add(kBlock)) {
      const size_t end = std::min(count, begin + kBlock);
      for (size_t i = begin; i < end; ++i) {
        const NameEntry& entry = names.Entries[i];
        const char* const name = names.Bytes.data() + entry.Offset;
        if (entry.Length >= kMaxPath) {
          outcomes[i] = Outcome::NameTooLong;
          continue;
        }
        EntryFacts facts{};
        const Described described = DescribeEntry(dirFd, name, facts);
        if (described == Described::Ok) {
          FillPanelItem(std::string_view(name, entry.Length), facts, items[i]);
          continue;
        }
        errors[i] = errno;
        outcomes[i] = described == Described::Vanished ? Outcome::Vanished
                      : described == Described::Denied ? Outcome::Denied
                                                       : Outcome::Failed;
      }
    }
  };
  const size_t blocks = (count + kBlock - 1) / kBlock;
  const size_t helpers = blocks > 1 ? std::min<size_t>({blocks - 1, Processors() - 1, 7}) : 0;
  std::vector<std::thread> threads;
  for (size_t i = 0; i < helpers; ++i) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer helpers: the work gets done all the same
    }
  }
  work();
  for (std::thread& thread : threads) thread.join();
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

bool ListDirectory(const char* path, PanelItems& items, int& problems, std::string& error) {
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
  SortNames(names);
  // The panel is filled in place: one item for each name, in fresh zeroed
  // memory, written by the threads that describe the entries.
  items = PanelItems();
  items.reserve(names.Entries.size());
  AskForLargePages(items.data(), items.capacity() * sizeof(PluginPanelItem));
  items.resize(names.Entries.size());
  std::vector<Outcome> outcomes;
  std::vector<int> errors;
  DescribeAll(dirFd, names, items.data(), outcomes, errors);
  closedir(dir);

  // Entries that could not be described leave a gap, closed here.
  size_t kept = 0;
  for (size_t i = 0; i < outcomes.size(); ++i) {
    const NameEntry& entry = names.Entries[i];
    const std::string_view name(names.Bytes.data() + entry.Offset, entry.Length);
    switch (outcomes[i]) {
      case Outcome::Ok:
        if (kept != i) items[kept] = items[i];
        ++kept;
        break;
      case Outcome::Vanished:
        break;
      case Outcome::Denied:
        // Without search permission no entry can be described.
        items.clear();
        return fail("cannot read directory", EACCES);
      case Outcome::NameTooLong:
        Warn(name, "name longer than 259 bytes, left out");
        ++problems;
        break;
      case Outcome::Failed:
        Warn(name, (std::string("left out: ") + std::strerror(errors[i])).c_str());
        ++problems;
        break;
    }
  }
  items.resize(kept);
  return true;
}

}  // namespace marlit::console
