// Linux only: walks a directory tree with openat2 (openat where the kernel
// lacks it), getdents64 and statx (fstatat where the kernel lacks it), and
// asks the file system for its compression flag where statx cannot tell. The
// file manager on Windows reads its panel with FindFirstFile; this file stands
// in for that, for one directory or a whole tree.
//
// The caller takes the entries in tree order. Directories wait on a stack
// that a few threads share, the first ones the caller will need on top, and
// the threads read them while they are not too far ahead. Each directory is
// opened relative to its parent's descriptor, which stays open until the
// last of its directories is opened; past a budget of open descriptors (deep
// or wide trees), by its path below the root's descriptor instead, in pieces
// when the path is longer than the kernel takes. Its entries are described
// relative to its own descriptor right after it is read, in blocks that the
// threads share when there are many, so no directory is opened twice. When
// the caller needs a directory no thread has taken, it reads it itself:
// with one processor the caller is the only thread.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "console/panel/walk.h"

namespace marlit::console {
namespace {

// Entries described by one job: a large directory is shared among threads.
constexpr uint32_t kBlock = 512;
// getdents64 reads this many bytes of a directory at a time, into a buffer
// with room past them for reading a name's first eight bytes as one word.
constexpr size_t kReadBytes = 64 * 1024;
constexpr size_t kBufferBytes = kReadBytes + 8;
constexpr uint64_t kProgressEveryMs = 100;
// Directories read ahead of the caller, at most: what a tree of many small
// directories may hold besides its entries.
constexpr size_t kAheadDirectories = 2048;
// Directories a helper reads between two takings of the walk's lock.
constexpr size_t kReadBatch = 4;

// A name of a directory, with a sort key: its first eight bytes, so that most
// comparisons never reach the texts.
struct NameRecord {
  uint64_t Key;
  uint32_t Offset;  // in the directory's Names
  uint16_t Length;
  uint8_t Type : 4;       // d_type
  uint8_t Pending : 1;    // not described: its facts are its type alone
  uint8_t Described : 3;  // a Description
  EntryState State;
};
static_assert(sizeof(NameRecord) == 16);

// Where a directory is in its life.
enum class Stage : uint8_t {
  Unread,   // waiting for a thread
  Reading,  // a thread reads it or describes its entries
  Ready,    // its entries and directories are known; Error when it could not be read
};

struct Directory {
  Directory* Parent = nullptr;
  uint32_t Slot = 0;        // its entry among the parent's
  uint32_t ChildIndex = 0;  // its place among the parent's Children
  uint32_t Depth = 1;       // the depth of its entries
  uint64_t Device = 0;
  uint64_t Inode = 0;
  std::string Path;     // below the root, '/'-ended; "" for the root
  int Fd = -1;          // open while its entries are described and, if kept, its directories opened
  bool KeepFd = false;  // its directories are opened relative to Fd
  bool DeniedTold = false;
  std::atomic<Stage> At{Stage::Unread};  // changed under the walk's lock
  std::atomic<uint32_t> Holds{0};        // blocks not yet described, directories not yet opened
  int Error = 0;
  uint32_t Blocks = 0;
  uint32_t NextBlock = 0;           // under the walk's lock
  uint32_t DoneBlocks = 0;          // under the walk's lock
  std::string Names;                // zero-terminated
  std::vector<NameRecord> Entries;  // in byte order of the names
  std::vector<EntryFacts> Facts;    // one for each entry, when any is described
  // Filled under the walk's lock; sorted by slot once the directory is Ready.
  std::vector<std::pair<uint32_t, std::unique_ptr<Directory>>> Children;
  std::vector<std::pair<uint32_t, int>> Failures;  // slot, errno
};

// How describing one entry ended.
enum class Described { Ok, Vanished, Denied, Failed };

Described Translate(int error) {
  if (error == ENOENT || error == ENOTDIR) return Described::Vanished;
  if (error == EACCES) return Described::Denied;
  return Described::Failed;
}

// What a description brings besides the facts: where the entry lives.
struct Identity {
  uint64_t Device;
  uint64_t Inode;
};

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

// Set once the kernel refused statx, or openat2; the older calls serve from
// then on.
std::atomic<bool> g_noStatx{false};
std::atomic<bool> g_noOpenat2{false};

// stat or lstat of one entry, by statx where the kernel has it: the same call
// brings the compression flag where the file system reports it there.
Described StatEntry(int dirFd, const char* name, int followFlag, EntryFacts& facts, Identity& id,
                    bool& compressionKnown) {
  if (!g_noStatx) {
    struct statx sx {};
    if (statx(dirFd, name, followFlag | AT_NO_AUTOMOUNT,
              STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_INO, &sx) == 0) {
      facts.Mode = sx.stx_mode;
      facts.Size = sx.stx_size;
      facts.WriteSeconds = sx.stx_mtime.tv_sec;
      facts.WriteNanoseconds = sx.stx_mtime.tv_nsec;
      compressionKnown = (sx.stx_attributes_mask & STATX_ATTR_COMPRESSED) != 0;
      facts.Compressed = (sx.stx_attributes & STATX_ATTR_COMPRESSED) != 0;
      id.Device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
      id.Inode = sx.stx_ino;
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
  id.Device = st.st_dev;
  id.Inode = st.st_ino;
  return Described::Ok;
}

// A symbolic link is described by its target, or by itself when the target
// cannot be reached. `isLink` tells whether the entry itself is a link.
Described DescribeEntry(int dirFd, const char* name, uint8_t type, EntryFacts& facts, Identity& id,
                        bool& isLink) {
  bool compressionKnown = false;
  Described result = StatEntry(dirFd, name, 0, facts, id, compressionKnown);
  isLink = type == DT_LNK;
  if (result != Described::Ok) {
    result = StatEntry(dirFd, name, AT_SYMLINK_NOFOLLOW, facts, id, compressionKnown);
    if (result != Described::Ok) return result;
    if (S_ISLNK(facts.Mode)) {
      compressionKnown = true;  // the link itself is never compressed
      isLink = true;
    }
  } else if (type == DT_UNKNOWN && S_ISDIR(facts.Mode)) {
    // The file system does not say whether the name is a link; only a
    // directory's answer matters, since only directories are walked.
    EntryFacts own{};
    Identity ownId{};
    bool ignored = false;
    isLink = StatEntry(dirFd, name, AT_SYMLINK_NOFOLLOW, own, ownId, ignored) == Described::Ok &&
             S_ISLNK(own.Mode);
  }
  if (!compressionKnown && MayBeCompressed(facts.Mode)) {
    facts.Compressed = AskCompressed(dirFd, name);
  }
  return Described::Ok;
}

// The first eight bytes of a name, the first as the most significant, zero
// past its end; `name` has eight readable bytes.
uint64_t SortKey(const char* name, size_t length) {
  uint64_t word = 0;
  std::memcpy(&word, name, sizeof word);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return length >= 8 ? word : word & ~(~uint64_t{0} >> (8 * length));
}

// Byte order, as strcmp compares.
void SortNames(Directory& d) {
  const char* const bytes = d.Names.data();
  std::sort(d.Entries.begin(), d.Entries.end(), [bytes](const NameRecord& a, const NameRecord& b) {
    if (a.Key != b.Key) return a.Key < b.Key;
    return std::strcmp(bytes + a.Offset, bytes + b.Offset) < 0;
  });
}

bool IsDotOrDotDot(const char* n) {
  return n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'));
}

// Room for `extra` more elements: exactly for a directory read in one buffer,
// twice as much as before for a larger one.
template <typename Container>
void MakeRoom(Container& c, size_t extra) {
  if (c.size() + extra > c.capacity()) c.reserve(std::max(c.size() + extra, c.capacity() * 2));
}

// Reads every name but "." and ".." into `d`. Returns 0, or the errno of the
// read that failed. The names of a buffer are measured before they are
// copied, so that a directory read in one buffer takes no more memory than
// its names.
int ReadNames(int fd, char* buffer, Directory& d) {
  while (true) {
    const ssize_t got = getdents64(fd, buffer, kReadBytes);
    if (got < 0) return errno;
    if (got == 0) return 0;
    size_t count = 0;
    for (ssize_t at = 0; at < got; ++count) {
      at += reinterpret_cast<const dirent64*>(buffer + at)->d_reclen;
    }
    MakeRoom(d.Entries, count);
    const size_t first = d.Entries.size();
    size_t offset = d.Names.size();
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      const char* n = entry->d_name;
      if (IsDotOrDotDot(n)) continue;
      const size_t length = std::strlen(n);
      if (length > UINT16_MAX || offset + length + 1 > UINT32_MAX) return EOVERFLOW;
      d.Entries.push_back(
          NameRecord{SortKey(n, length), static_cast<uint32_t>(offset),
                     static_cast<uint16_t>(length), static_cast<uint8_t>(entry->d_type & 0xf), 0,
                     static_cast<uint8_t>(Description::TypeOnly), EntryState::Vanished});
      offset += length + 1;
    }
    MakeRoom(d.Names, offset - d.Names.size());
    size_t k = first;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      if (!IsDotOrDotDot(entry->d_name)) d.Names.append(entry->d_name, d.Entries[k++].Length + 1u);
    }
  }
}

// Opens a directory by a path relative to `at`. Without `follow` no
// component may be a symbolic link: one put in a directory's place meanwhile
// does not lead the walk out of the tree.
int OpenDirectoryAt(int at, const char* path, bool follow, bool forReading) {
  // openat2 refuses O_PATH with any flag it would ignore.
  const int flags = O_DIRECTORY | O_CLOEXEC | (forReading ? O_RDONLY | O_NOCTTY : O_PATH);
  if (!g_noOpenat2) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags);
    how.resolve = follow ? 0 : RESOLVE_NO_SYMLINKS;
    const long fd = syscall(SYS_openat2, at, path, &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    // Sandboxes that do not know the call refuse it with ENOSYS or EPERM.
    if (errno != ENOSYS && errno != EPERM) return -1;
    const int tried = openat(at, path, flags | (follow ? 0 : O_NOFOLLOW));
    if (tried >= 0 || errno != EPERM) g_noOpenat2 = true;
    return tried;
  }
  return openat(at, path, flags | (follow ? 0 : O_NOFOLLOW));
}

// Opens `d` below the root's descriptor: in one call when its path fits the
// kernel's limit, else a piece of the path at a time.
int OpenBelowRoot(int rootFd, const Directory& d, bool follow) {
  const std::string path = d.Path.substr(0, d.Path.size() - 1);
  if (path.size() < PATH_MAX) return OpenDirectoryAt(rootFd, path.c_str(), follow, true);
  int at = rootFd;
  size_t start = 0;
  while (true) {
    const bool last = path.size() - start < PATH_MAX;
    size_t end = path.size();
    if (!last) {
      end = path.rfind('/', start + PATH_MAX - 1);
      if (end == std::string::npos || end <= start) {
        errno = ENAMETOOLONG;
        end = std::string::npos;
      }
    }
    int next = -1;
    if (end != std::string::npos) {
      next = OpenDirectoryAt(at, path.substr(start, end - start).c_str(), follow, last);
    }
    const int saved = errno;
    if (at != rootFd) close(at);
    errno = saved;
    if (next < 0 || last) return next;
    at = next;
    start = end + 1;
  }
}

uint64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1'000'000;
}

// The number of processors this process may run on.
size_t Processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<size_t>(std::max(1, CPU_COUNT(&set)));
}

// The caller's place in one directory.
struct Frame {
  Directory* Dir;
  uint32_t Next;   // the entry to hand over next
  size_t Child;    // the next of Dir->Children
  size_t Failure;  // the next of Dir->Failures
};

}  // namespace

struct Walk {
  const WalkArgs* Args = nullptr;
  int RootFd = -1;
  uint64_t RootDevice = 0;
  bool Follow = false;
  bool Identities = false;  // directories are described for where they live
  size_t Helpers = 0;
  bool Started = false;
  bool HelpersStarted = false;  // under the lock

  std::mutex Mutex;
  std::condition_variable Wake;     // work for the helpers
  std::condition_variable Settled;  // the directory the caller awaits became Ready
  // Directories to read: a heap whose top is the first the caller will need.
  std::vector<Directory*> Reads;
  std::vector<Directory*> Blocks;  // directories with blocks to describe
  // Entries and directories read and not yet entered by the caller.
  std::atomic<size_t> Ahead{0};
  std::atomic<size_t> AheadDirectories{0};
  // Helpers waiting for work: counted before they look a last time, so that
  // whoever makes work after that look sees them and wakes them.
  std::atomic<size_t> Idle{0};
  // What the caller waits for; changed under the lock.
  std::atomic<Directory*> Awaited{nullptr};
  std::atomic<bool> Stopping{false};
  bool OutOfMemory = false;  // under the lock
  std::vector<std::thread> Threads;

  std::atomic<uint64_t> Directories{0};
  std::atomic<uint64_t> Entries{0};
  // Directories kept open for their directories to be opened relative to
  // them; beyond the budget a directory is opened by its path from the root.
  std::atomic<int> KeptFds{0};
  int KeptFdBudget = 0;

  std::unique_ptr<Directory> Root;
  std::vector<Frame> Stack;              // the caller's way down
  std::vector<Directory*> Retired;       // left by the caller; freed by ForgetHanded
  std::unique_ptr<char[]> CallerBuffer;  // the caller's getdents buffer
  uint64_t NextReport = 0;
  uint64_t Start = 0;
  uint64_t Handed = 0;  // entries handed over so far
};

namespace {

// What describing one block leaves for the directory.
struct BlockOutput {
  std::vector<std::pair<uint32_t, std::unique_ptr<Directory>>> Found;
  std::vector<std::pair<uint32_t, int>> Failures;
  int Error = 0;  // the directory cannot be described
};

// Whether the caller needs `a` before `b`: the order of the walk, a parent
// before its directories, those in the order of their entries.
bool Before(const Directory* a, const Directory* b) {
  while (a->Depth > b->Depth) {
    a = a->Parent;
    if (a == b) return false;
  }
  while (b->Depth > a->Depth) {
    b = b->Parent;
    if (b == a) return true;
  }
  while (a->Parent != b->Parent) {
    a = a->Parent;
    b = b->Parent;
  }
  return a->Slot < b->Slot;
}

// The heap's order: the directory needed first on top.
bool NeededLater(const Directory* a, const Directory* b) { return Before(b, a); }

void PushRead(Walk& w, Directory* d) {
  w.Reads.push_back(d);
  std::push_heap(w.Reads.begin(), w.Reads.end(), NeededLater);
}

Directory* PopRead(Walk& w) {
  std::pop_heap(w.Reads.begin(), w.Reads.end(), NeededLater);
  Directory* const first = w.Reads.back();
  w.Reads.pop_back();
  return first;
}

// Takes `d` off the heap wherever it is (the caller needs it now: nearly
// always the top).
void Unqueue(Walk& w, Directory* d) {
  if (w.Reads.front() == d) {
    PopRead(w);
    return;
  }
  w.Reads.erase(std::find(w.Reads.begin(), w.Reads.end(), d));
  std::make_heap(w.Reads.begin(), w.Reads.end(), NeededLater);
}

// Whether (device, inode) is a directory from the root down to `d`.
bool OnPath(const Directory* d, uint64_t device, uint64_t inode) {
  for (; d != nullptr; d = d->Parent) {
    if (d->Device == device && d->Inode == inode) return true;
  }
  return false;
}

// What becomes of a directory entry: walked, listed only, or a loop. `id` is
// null for a directory not described: without links to follow, a walk can
// meet a directory again only through a link, so only a walk that follows
// them (or stays on one device) needs where each directory lives.
EntryState WalkInto(const Walk& w, const Directory& d, uint32_t slot, const Identity* id,
                    bool isLink) {
  const WalkArgs& args = *w.Args;
  if (args.MaxDepth != 0 && d.Depth >= args.MaxDepth) return EntryState::Listed;
  if (isLink && !w.Follow) return EntryState::Listed;
  if (id != nullptr) {
    if ((args.Flags & kWalkSameDevice) != 0 && id->Device != w.RootDevice) {
      return EntryState::Listed;
    }
    if (OnPath(&d, id->Device, id->Inode)) return EntryState::Loop;
  }
  if (args.Enter != nullptr) {
    const NameRecord& entry = d.Entries[slot];
    const std::string_view name(d.Names.data() + entry.Offset, entry.Length);
    if (args.Enter(args.Context, name) != WalkAnswer::Continue) return EntryState::Listed;
  }
  return EntryState::Walked;
}

// Whether the walk describes an entry of this d_type for itself: an unknown
// type may be a directory; a directory when the walk needs where it lives
// (links followed, or one device only); a link when it is followed.
bool WalkNeeds(const Walk& w, uint8_t type) {
  return type == DT_UNKNOWN || (type == DT_DIR && w.Identities) || (type == DT_LNK && w.Follow);
}

// An entry's facts: one not described has its type alone (and the owner's
// write permission, so that it is not taken as read-only).
EntryFacts FactsOf(const Directory& d, uint32_t slot) {
  if (d.Entries[slot].Pending != 0 || d.Facts.empty()) {
    return EntryFacts{static_cast<uint32_t>(DTTOIF(d.Entries[slot].Type) | S_IWUSR), 0, 0, 0,
                      false};
  }
  return d.Facts[slot];
}

// Room for the facts of a directory's entries, when any will be described:
// the caller wants some, or the walk needs some for itself.
void MakeRoomForFacts(const Walk& w, Directory& d) {
  if (w.Args->Wanted != nullptr ||
      std::any_of(d.Entries.begin(), d.Entries.end(),
                  [&w](const NameRecord& e) { return WalkNeeds(w, e.Type); })) {
    d.Facts.resize(d.Entries.size());
  }
}

// A directory to read, found at entry `slot` of `d`.
void FoundDirectory(Directory& d, uint32_t slot, const Identity& id, BlockOutput& out) {
  if (d.KeepFd) d.Holds.fetch_add(1);
  auto child = std::make_unique<Directory>();
  child->Parent = &d;
  child->Slot = slot;
  child->Depth = d.Depth + 1;
  child->Device = id.Device;
  child->Inode = id.Inode;
  const NameRecord& entry = d.Entries[slot];
  child->Path.reserve(d.Path.size() + entry.Length + 1);
  child->Path.append(d.Path).append(d.Names.data() + entry.Offset, entry.Length).append(1, '/');
  out.Found.emplace_back(slot, std::move(child));
}

void SetDescribed(NameRecord& entry, Description what) {
  entry.Described = static_cast<uint8_t>(what) & 7u;
}

// Describes entries [begin, end) of `d` and finds the directories to walk.
// What the walk itself needs decides what is walked; what only the caller
// wants changes nothing of the walk.
void DescribeBlock(const Walk& w, Directory& d, uint32_t begin, uint32_t end, BlockOutput& out) {
  // Directories taken as their type says: whether the directory may be
  // searched decides their fate as it does that of the entries described.
  uint32_t firstAssumed = end;
  bool denied = false;
  bool searched = false;
  for (uint32_t i = begin; i < end && !w.Stopping; ++i) {
    NameRecord& entry = d.Entries[i];
    const char* const name = d.Names.data() + entry.Offset;
    Identity id{};
    bool isLink = false;
    if (entry.Length > w.Args->MaxName) {
      entry.State = EntryState::Failed;
      out.Failures.emplace_back(i, ENAMETOOLONG);
      continue;
    }
    if (!WalkNeeds(w, entry.Type)) {
      entry.Pending = 1;
      entry.State = entry.Type == DT_DIR ? WalkInto(w, d, i, nullptr, false) : EntryState::Listed;
      if (entry.State == EntryState::Walked) FoundDirectory(d, i, id, out);
      if (w.Args->Wanted == nullptr ||
          !w.Args->Wanted(w.Args->Context, std::string_view(name, entry.Length))) {
        continue;
      }
      if (entry.Type == DT_DIR && !w.Args->WantDirectories) {
        SetDescribed(entry, Description::Assumed);
        firstAssumed = std::min(firstAssumed, i);
        continue;
      }
      EntryFacts& facts = d.Facts[i];
      const Described described = DescribeEntry(d.Fd, name, entry.Type, facts, id, isLink);
      denied = denied || described == Described::Denied;
      searched = searched || described != Described::Denied;
      switch (described) {
        case Described::Ok:
          entry.Pending = 0;
          SetDescribed(entry, Description::Described);
          break;
        case Described::Vanished:
          SetDescribed(entry, Description::Gone);
          break;
        case Described::Denied:
          SetDescribed(entry, Description::Denied);
          break;
        case Described::Failed:
          SetDescribed(entry, Description::LeftOut);
          out.Failures.emplace_back(i, errno);
          break;
      }
      continue;
    }
    EntryFacts& facts = d.Facts[i];
    const Described described = DescribeEntry(d.Fd, name, entry.Type, facts, id, isLink);
    if (described == Described::Vanished) continue;
    if (described == Described::Denied) {
      // Without search permission no entry of it can be described.
      out.Error = EACCES;
      return;
    }
    if (described == Described::Failed) {
      entry.State = EntryState::Failed;
      out.Failures.emplace_back(i, errno);
      continue;
    }
    SetDescribed(entry, Description::Described);
    searched = true;
    entry.State = S_ISDIR(facts.Mode) ? WalkInto(w, d, i, &id, isLink) : EntryState::Listed;
    if (entry.State == EntryState::Walked) FoundDirectory(d, i, id, out);
  }
  if (firstAssumed == end) return;
  if (!denied && !searched) {
    // Nothing else was described: one look tells whether it may be searched.
    struct stat probe {};
    denied = fstatat(d.Fd, d.Names.data() + d.Entries[firstAssumed].Offset, &probe,
                     AT_SYMLINK_NOFOLLOW) != 0 &&
             errno == EACCES;
  }
  if (!denied) return;
  for (uint32_t i = firstAssumed; i < end; ++i) {
    NameRecord& entry = d.Entries[i];
    if (static_cast<Description>(entry.Described) == Description::Assumed) {
      SetDescribed(entry, Description::Denied);
    }
  }
}

// The last use of a directory's descriptor closes it: its last block
// described, or its last directory opened.
void Release(Walk& w, Directory& d) {
  if (d.Holds.fetch_sub(1) != 1 || d.Fd == w.RootFd) return;
  close(d.Fd);
  d.Fd = -1;
  if (d.KeepFd) w.KeptFds.fetch_sub(1);
}

// Opens a directory to read: relative to its parent's descriptor when the
// parent kept it, else by its path from the root.
int OpenToRead(Walk& w, Directory& d) {
  if (d.Parent == nullptr) return w.RootFd;
  Directory& parent = *d.Parent;
  if (!parent.KeepFd) return OpenBelowRoot(w.RootFd, d, w.Follow);
  // One name: O_NOFOLLOW refuses a link put in the directory's place as
  // openat2's RESOLVE_NO_SYMLINKS would, at the cost of a plain open.
  const int fd =
      openat(parent.Fd, parent.Names.data() + parent.Entries[d.Slot].Offset,
             O_RDONLY | O_NOCTTY | O_DIRECTORY | O_CLOEXEC | (w.Follow ? 0 : O_NOFOLLOW));
  const int saved = errno;
  Release(w, parent);
  errno = saved;
  return fd;
}

void Help(Walk& w);

// Wakes the helpers that wait for work, under the lock; the first work for
// more than one thread starts them: a directory of a few entries is read by
// the caller alone.
void WakeHelpers(Walk& w) {
  if (!w.HelpersStarted) {
    w.HelpersStarted = true;
    for (size_t i = 0; i < w.Helpers; ++i) {
      try {
        w.Threads.emplace_back([&w] { Help(w); });
      } catch (const std::system_error&) {
        break;  // fewer helpers: the caller does the rest
      }
    }
    return;
  }
  if (w.Idle.load() > 0) w.Wake.notify_all();
}

// A directory all of whose blocks are described: its directories go on the
// stack, the first on top, and whoever waits for it is told. Under the lock.
void Settle(Walk& w, Directory& d) {
  std::sort(d.Children.begin(), d.Children.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::sort(d.Failures.begin(), d.Failures.end());
  if (d.Error != 0) {
    // Nothing below an unreadable directory is walked: its directories
    // found so far are dropped (none is open yet).
    for (auto& child : d.Children) {
      if (d.KeepFd) Release(w, d);
      child.second.reset();
    }
    d.Children.clear();
  }
  for (size_t k = 0; k < d.Children.size(); ++k) d.Children[k].second->ChildIndex = k;
  for (auto& child : d.Children) PushRead(w, child.second.get());
  const bool found = !d.Children.empty();
  // Once Ready, the caller may take the directory's entries and free it
  // without the lock: nothing here looks at it again.
  d.At.store(Stage::Ready, std::memory_order_release);
  if (w.Awaited.load() == &d) w.Settled.notify_all();
  if (found) WakeHelpers(w);
}

// Forgets what a block found when memory ran out: the directories it found
// will not be opened, so their holds on `d` go.
void DropFound(Walk& w, Directory& d, BlockOutput& out) {
  for (size_t k = 0; k < out.Found.size() && d.KeepFd; ++k) Release(w, d);
  out = BlockOutput();
}

// Takes the output of a described block into the directory; the last block
// settles it (and the directory may then be gone as soon as the lock is
// let go). Under the lock. Returns whether it settled it.
bool TakeBlock(Walk& w, Directory& d, BlockOutput& out) {
  if (out.Error != 0) d.Error = out.Error;
  for (auto& found : out.Found) d.Children.push_back(std::move(found));
  d.Failures.insert(d.Failures.end(), out.Failures.begin(), out.Failures.end());
  if (++d.DoneBlocks != d.Blocks) return false;
  Settle(w, d);
  return true;
}

// Describes one block that the calling thread has claimed. Returns whether
// it was the last and settled the directory.
bool DescribeClaimed(Walk& w, std::unique_lock<std::mutex>& lock, Directory& d, uint32_t block) {
  lock.unlock();
  BlockOutput out;
  const uint32_t count = static_cast<uint32_t>(d.Entries.size());
  bool failed = false;
  try {
    DescribeBlock(w, d, block * kBlock, std::min(count, (block + 1) * kBlock), out);
  } catch (const std::bad_alloc&) {
    failed = true;
  }
  Release(w, d);
  lock.lock();
  if (failed) {
    // What the block found is lost: the walk stops and tells the caller.
    DropFound(w, d, out);
    w.OutOfMemory = true;
    w.Stopping = true;
  }
  return TakeBlock(w, d, out);
}

// Claims the next block of `d`, under the lock; false when none is left.
bool ClaimBlock(Walk& w, Directory& d, uint32_t& block) {
  if (d.NextBlock == d.Blocks) return false;
  block = d.NextBlock++;
  if (d.NextBlock == d.Blocks) {
    const auto at = std::find(w.Blocks.begin(), w.Blocks.end(), &d);
    if (at != w.Blocks.end()) w.Blocks.erase(at);
  }
  return true;
}

// Sets up the blocks of a directory whose names were read, under the lock;
// the directory is Ready at once when there is nothing to describe. Returns
// whether blocks wait to be described.
bool OfferBlocks(Walk& w, Directory& d) {
  const uint32_t count = static_cast<uint32_t>(d.Entries.size());
  if (count == 0 || d.Error != 0) {
    if (d.Fd >= 0 && d.Fd != w.RootFd) {
      close(d.Fd);
      if (d.KeepFd) w.KeptFds.fetch_sub(1);
    }
    d.Fd = -1;
    d.Entries.clear();
    Settle(w, d);
    return false;
  }
  d.Blocks = (count + kBlock - 1) / kBlock;
  d.Holds = d.Blocks;
  w.Blocks.push_back(&d);
  if (d.Blocks > 1) WakeHelpers(w);
  return true;
}

// What reading one directory left, for the walk to take in under its lock.
struct ReadOutput {
  int Error = 0;
  bool OutOfMemory = false;
  bool Alone = false;  // described at once: Block holds what it found
  BlockOutput Block;
};

// Reads the names of a directory that the calling thread has claimed, without
// the lock; a directory of one block is described at once.
void ReadUnlocked(Walk& w, Directory& d, char* buffer, ReadOutput& out) {
  try {
    const int fd = w.Stopping ? -1 : OpenToRead(w, d);
    if (fd < 0) {
      // A directory gone meanwhile (or turned into a link) is left empty.
      if (!w.Stopping && errno != ENOENT && errno != ENOTDIR && errno != ELOOP) out.Error = errno;
    } else {
      out.Error = ReadNames(fd, buffer, d);
      const uint32_t count = static_cast<uint32_t>(d.Entries.size());
      if (out.Error == 0 && count > 0) {
        SortNames(d);
        MakeRoomForFacts(w, d);
      }
      d.Fd = fd;
      d.KeepFd = w.KeptFds.fetch_add(1) < w.KeptFdBudget;
      if (!d.KeepFd) w.KeptFds.fetch_sub(1);
      if (out.Error == 0 && count > 0 && count <= kBlock) {
        // Blocks stays 0 until the walk takes the directory in, so that no
        // other thread claims a block meanwhile.
        out.Alone = true;
        d.Holds = 1;
        DescribeBlock(w, d, 0, count, out.Block);
        Release(w, d);
      }
    }
  } catch (const std::bad_alloc&) {
    out.OutOfMemory = true;
    w.Stopping = true;
  }
  w.Directories.fetch_add(1, std::memory_order_relaxed);
  w.Entries.fetch_add(d.Entries.size(), std::memory_order_relaxed);
}

// Takes in what reading a directory left, under the lock. Returns whether
// blocks of it are left to describe.
bool TakeRead(Walk& w, Directory& d, ReadOutput& out) {
  if (out.OutOfMemory) {
    w.OutOfMemory = true;
    if (out.Error == 0) out.Error = ENOMEM;
    if (out.Alone) {
      DropFound(w, d, out.Block);
    }
  }
  d.Error = out.Error;
  if (out.Error == 0) w.Ahead += d.Entries.size();
  if (out.Alone) {
    d.Blocks = d.NextBlock = 1;
    TakeBlock(w, d, out.Block);
    return false;
  }
  return OfferBlocks(w, d);
}

// Describes the blocks of `d` that no thread has taken yet; the lock is
// held since they were offered. A directory another thread may settle is
// not looked at once this thread's block is taken in, unless that block
// left it unsettled (so another is still being described).
void DescribeLeft(Walk& w, std::unique_lock<std::mutex>& lock, Directory& d) {
  uint32_t block = 0;
  while (ClaimBlock(w, d, block)) {
    if (DescribeClaimed(w, lock, d, block)) return;
  }
}

// Reads a directory that the calling thread has claimed, then describes its
// blocks with any thread that helps.
void ReadClaimed(Walk& w, std::unique_lock<std::mutex>& lock, Directory& d, char* buffer) {
  lock.unlock();
  ReadOutput out;
  ReadUnlocked(w, d, buffer, out);
  lock.lock();
  if (TakeRead(w, d, out)) DescribeLeft(w, lock, d);
}

// Claims a directory to read, under the lock.
void Claim(Walk& w, Directory& d) {
  d.At.store(Stage::Reading, std::memory_order_relaxed);
  ++w.AheadDirectories;
}

// Whether a helper may read another directory ahead of the caller.
bool MayReadAhead(const Walk& w) {
  return !w.Reads.empty() && w.Ahead.load() < w.Args->Ahead &&
         w.AheadDirectories.load() < kAheadDirectories;
}

// A helper thread: describes blocks first, then reads directories while it
// is not too far ahead of the caller.
void Help(Walk& w) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBufferBytes]);
  std::unique_lock<std::mutex> lock(w.Mutex);
  if (buffer == nullptr) {
    w.OutOfMemory = true;
    w.Stopping = true;
    w.Settled.notify_all();
    return;
  }
  try {
    while (!w.Stopping) {
      uint32_t block = 0;
      if (!w.Blocks.empty()) {
        Directory* const d = w.Blocks.front();
        if (ClaimBlock(w, *d, block)) {
          DescribeClaimed(w, lock, *d, block);
          continue;
        }
      }
      if (MayReadAhead(w)) {
        // A few directories at a time, the lock taken once for all.
        Directory* batch[kReadBatch];
        size_t taken = 0;
        while (taken < kReadBatch && MayReadAhead(w)) {
          batch[taken] = PopRead(w);
          Claim(w, *batch[taken++]);
        }
        lock.unlock();
        ReadOutput outs[kReadBatch];
        bool takenIn[kReadBatch] = {};
        for (size_t k = 0; k < taken; ++k) {
          ReadUnlocked(w, *batch[k], buffer.get(), outs[k]);
          if (w.Awaited.load() == batch[k]) {
            // The caller waits for this one: it need not wait for the rest.
            lock.lock();
            TakeRead(w, *batch[k], outs[k]);
            takenIn[k] = true;
            lock.unlock();
          }
        }
        lock.lock();
        // Blocks left go on the queue for any thread, this one first: once
        // the lock is let go, a directory another thread settles may be gone.
        for (size_t k = 0; k < taken; ++k) {
          if (!takenIn[k]) TakeRead(w, *batch[k], outs[k]);
        }
        continue;
      }
      ++w.Idle;
      if (!MayReadAhead(w) && w.Blocks.empty() && !w.Stopping) w.Wake.wait(lock);
      --w.Idle;
    }
  } catch (const std::bad_alloc&) {
    if (!lock.owns_lock()) lock.lock();
    w.OutOfMemory = true;
    w.Stopping = true;
  }
  w.Settled.notify_all();
}

void Report(Walk& w, std::string_view where) {
  const uint64_t now = NowMs();
  if (w.Args->Progress == nullptr || now < w.NextReport) return;
  w.NextReport = now + kProgressEveryMs;
  WalkProgress progress{w.Directories.load(), w.Entries.load(), now - w.Start, where};
  w.Args->Progress(w.Args->Context, progress);
}

// Waits until `d` is Ready, doing its work itself rather than waiting for a
// thread that has not taken it.
void AwaitReady(Walk& w, Directory& d) {
  if (d.At.load(std::memory_order_acquire) == Stage::Ready) return;
  std::unique_lock<std::mutex> lock(w.Mutex);
  while (d.At.load(std::memory_order_relaxed) != Stage::Ready) {
    if (w.OutOfMemory) throw std::bad_alloc();
    uint32_t block = 0;
    if (d.At.load(std::memory_order_relaxed) == Stage::Unread) {
      Unqueue(w, &d);
      Claim(w, d);
      ReadClaimed(w, lock, d, w.CallerBuffer.get());
    } else if (ClaimBlock(w, d, block)) {
      DescribeClaimed(w, lock, d, block);
    } else {
      w.Awaited = &d;
      w.Settled.wait_for(lock, std::chrono::milliseconds(kProgressEveryMs));
      w.Awaited = nullptr;
      lock.unlock();
      Report(w, d.Path);
      lock.lock();
    }
  }
  if (w.OutOfMemory) throw std::bad_alloc();
}

// The caller enters a directory (Ready): it no longer counts as read ahead.
// Helpers held back by the budget are woken once half of it is free again,
// not for every directory.
void Enter(Walk& w, Directory& d) {
  const size_t ahead = w.Ahead -= d.Entries.size();
  const size_t directories = --w.AheadDirectories;
  if (w.Idle.load() > 0 && ahead < w.Args->Ahead / 2 && directories < kAheadDirectories / 2) {
    std::lock_guard<std::mutex> lock(w.Mutex);
    w.Wake.notify_all();
  }
}

// Closes what a stopped walk left open, below `d`.
void CloseBelow(Walk& w, Directory& d) {
  if (d.Fd >= 0 && d.Fd != w.RootFd) close(d.Fd);
  d.Fd = -1;
  for (auto& child : d.Children) {
    if (child.second != nullptr) CloseBelow(w, *child.second);
  }
}

}  // namespace

void WalkCloser::operator()(Walk* walk) const {
  if (walk == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(walk->Mutex);
    walk->Stopping = true;
    walk->Wake.notify_all();
  }
  for (std::thread& thread : walk->Threads) thread.join();
  if (walk->Root != nullptr) CloseBelow(*walk, *walk->Root);
  if (walk->RootFd >= 0) close(walk->RootFd);
  delete walk;
}

WalkHandle OpenWalk(const WalkArgs& args, std::string& error) {
  WalkHandle w(new Walk);
  w->Args = &args;
  const auto fail = [&](const char* what, int code) {
    error = std::string(what) + " '" + args.Root + "': " + std::strerror(code);
    return WalkHandle();
  };
  w->Follow = (args.Flags & kWalkFollowLinks) != 0;
  w->Identities = w->Follow || (args.Flags & kWalkSameDevice) != 0;
  const size_t threads = args.Threads != 0 ? args.Threads : std::min<size_t>(Processors(), 8);
  w->Helpers = threads > 1 ? threads : 0;
  rlimit files{};
  const rlim_t fileLimit = getrlimit(RLIMIT_NOFILE, &files) == 0 ? files.rlim_cur : 1024;
  w->KeptFdBudget = static_cast<int>(std::min<rlim_t>(256, fileLimit / 4));
  w->RootFd = open(args.Root, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (w->RootFd < 0) return fail("cannot open directory", errno);
  struct stat root {};
  if (fstat(w->RootFd, &root) != 0) return fail("cannot open directory", errno);
  w->RootDevice = root.st_dev;
  w->CallerBuffer.reset(new char[kBufferBytes]);
  w->Root = std::make_unique<Directory>();
  Directory& top = *w->Root;
  top.Device = root.st_dev;
  top.Inode = root.st_ino;
  const int readError = ReadNames(w->RootFd, w->CallerBuffer.get(), top);
  if (readError != 0) return fail("cannot read directory", readError);
  SortNames(top);
  // The walk describes some entries for itself: a root it may read but not
  // search is refused now, before anything is shown.
  for (const NameRecord& e : top.Entries) {
    if (!WalkNeeds(*w, e.Type)) continue;
    struct stat probe {};
    if (fstatat(w->RootFd, top.Names.data() + e.Offset, &probe, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == EACCES) {
      return fail("cannot read directory", EACCES);
    }
    break;
  }
  top.Fd = w->RootFd;
  top.KeepFd = true;
  top.At = Stage::Reading;  // its entries are described once the caller asks for them
  w->Stack.push_back(Frame{&top, 0, 0, 0});
  return w;
}

bool NextEntry(Walk& w, WalkEntry& out) {
  if (!w.Started) {
    Directory& top = *w.Root;
    MakeRoomForFacts(w, top);
    w.Directories.fetch_add(1);
    w.Entries.fetch_add(top.Entries.size());
    {
      std::lock_guard<std::mutex> lock(w.Mutex);
      OfferBlocks(w, top);
    }
    w.Started = true;
    w.Start = NowMs();
    w.NextReport = w.Start + kProgressEveryMs;
    AwaitReady(w, top);
    // Entries of the root that cannot be described (it lost its search
    // permission since it was opened) leave it empty.
    if (top.Error != 0) w.Stack.clear();
  }
  while (!w.Stack.empty()) {
    Frame& frame = w.Stack.back();
    Directory& d = *frame.Dir;
    if (frame.Next == d.Entries.size()) {
      w.Retired.push_back(&d);
      w.Stack.pop_back();
      continue;
    }
    const uint32_t i = frame.Next++;
    // The status line, also while the threads keep ahead and no one waits.
    if ((++w.Handed & 1023) == 0) Report(w, d.Path);
    NameRecord& record = d.Entries[i];
    if (record.State == EntryState::Vanished) continue;
    out.Name = std::string_view(d.Names.data() + record.Offset, record.Length);
    out.Directory = d.Path;
    out.Facts = FactsOf(d, i);
    out.Depth = d.Depth;
    out.State = record.State;
    out.Described = static_cast<Description>(record.Described);
    // A directory taken as its type says is no different from one not asked about.
    if (out.Described == Description::Assumed) out.Described = Description::TypeOnly;
    out.FirstOfDirectory = false;
    out.Error = 0;
    if (frame.Failure < d.Failures.size() && d.Failures[frame.Failure].first == i) {
      out.Error = d.Failures[frame.Failure++].second;
    }
    if (out.Described == Description::Denied) {
      out.Error = EACCES;
      out.FirstOfDirectory = !d.DeniedTold;
      d.DeniedTold = true;
    }
    Directory* child = nullptr;
    if (frame.Child < d.Children.size() && d.Children[frame.Child].first == i) {
      child = d.Children[frame.Child++].second.get();
    }
    if (child != nullptr) {
      AwaitReady(w, *child);
      Enter(w, *child);
      if (child->Error != 0) {
        out.State = EntryState::Unreadable;
        out.Error = child->Error;
        w.Retired.push_back(child);
      } else {
        w.Stack.push_back(Frame{child, 0, 0, 0});
      }
    }
    return true;
  }
  if (w.OutOfMemory) throw std::bad_alloc();
  return false;
}

void ForgetHanded(Walk& w) {
  for (Directory* d : w.Retired) {
    if (d->Parent == nullptr) continue;  // the root lives as long as the walk
    d->Parent->Children[d->ChildIndex].second.reset();
  }
  w.Retired.clear();
}

}  // namespace marlit::console
