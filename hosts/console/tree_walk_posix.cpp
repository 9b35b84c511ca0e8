// Linux only: walks a directory tree with openat2 (openat where the kernel
// lacks it), getdents64 and statx (fstatat where the kernel lacks it), and
// asks the file system for its compression flag where statx cannot tell. The
// file manager on Windows reads its panel with FindFirstFile; this file stands
// in for that, for one directory or a whole tree.
//
// Directories go on a queue that a few threads share. Each directory is
// opened relative to its parent's descriptor, which stays open until the
// last of its directories is opened; past a budget of open descriptors (deep
// trees), by its path below the root's descriptor instead, in pieces when the
// path is longer than the kernel takes. Its entries are described relative to
// its descriptor, in blocks that the threads share when there are many.
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
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "console/tree_walk.h"

namespace marlit::console {
namespace {

// Entries described by one job: a large directory is shared among threads.
constexpr uint32_t kBlock = 512;
// getdents64 reads this many bytes of a directory at a time.
constexpr size_t kReadBytes = 128 * 1024;
constexpr uint64_t kProgressEveryMs = 100;

// A name of a directory, with a sort key: its first eight bytes, so that most
// comparisons never reach the texts.
struct NameRecord {
  uint64_t Key;
  uint32_t Offset;  // in the directory's Names
  uint16_t Length;
  uint8_t Type : 7;     // d_type
  uint8_t Pending : 1;  // not described yet (NamesOnly): its facts are its type alone
  EntryState State;
};
static_assert(sizeof(NameRecord) == 16);

}  // namespace

struct WalkedTree::Directory {
  Directory* Parent = nullptr;
  uint32_t Slot = 0;   // its entry among the parent's
  uint32_t Depth = 1;  // the depth of its entries
  uint64_t Device = 0;
  uint64_t Inode = 0;
  int Fd = -1;          // open while its entries are described and, if kept, its directories opened
  bool KeepFd = false;  // its directories are opened relative to Fd
  std::atomic<uint32_t> Holds{0};  // blocks not yet described, directories not yet opened
  std::atomic<int> Error{0};
  bool Hidden = false;  // its entries are not visited
  // Its place in tree order, worked out once the walk is over: the position
  // of its own entry, of its first entry, and how many entries lie below it.
  uint32_t Item = UINT32_MAX;
  uint32_t First = 0;
  uint64_t Below = 0;
  std::string Names;                // zero-terminated
  std::vector<NameRecord> Entries;  // in byte order of the names
  std::vector<EntryFacts> Facts;    // one for each entry
  // Set under the walk's lock; sorted by slot once the walk is over.
  std::vector<std::pair<uint32_t, Directory*>> Children;
  std::vector<std::pair<uint32_t, int>> Failures;  // slot, errno
};

WalkedTree::WalkedTree() = default;
WalkedTree::~WalkedTree() = default;
WalkedTree::WalkedTree(WalkedTree&&) noexcept = default;
WalkedTree& WalkedTree::operator=(WalkedTree&&) noexcept = default;

namespace {

using Directory = WalkedTree::Directory;

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

uint64_t SortKey(const char* name, size_t length) {
  uint64_t key = 0;
  for (size_t i = 0; i < 8; ++i) {
    key = key << 8 | (i < length ? static_cast<unsigned char>(name[i]) : 0u);
  }
  return key;
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
      d.Entries.push_back(NameRecord{
          SortKey(n, length), static_cast<uint32_t>(offset), static_cast<uint16_t>(length),
          static_cast<uint8_t>(entry->d_type & 0x7f), 0, EntryState::Vanished});
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

// The names from the root down to `d`, joined by '/'.
std::string PathBelowRoot(const Directory* d) {
  std::vector<std::string_view> names;
  for (; d->Parent != nullptr; d = d->Parent) {
    const NameRecord& entry = d->Parent->Entries[d->Slot];
    names.emplace_back(d->Parent->Names.data() + entry.Offset, entry.Length);
  }
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += *it;
  }
  return path;
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
int OpenBelowRoot(int rootFd, const Directory* d, bool follow) {
  const std::string path = PathBelowRoot(d);
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

struct Job {
  Directory* Dir;
  uint32_t Begin;  // Begin == End: read the directory
  uint32_t End;
};

struct WalkState {
  const WalkArgs* Args = nullptr;
  WalkedTree* Tree = nullptr;
  int RootFd = -1;
  uint64_t RootDevice = 0;
  bool Follow = false;
  size_t Threads = 1;

  std::mutex Mutex;
  std::condition_variable Wake;
  std::vector<Job> Reads;   // directories to read, last in first out
  std::vector<Job> Blocks;  // blocks to describe, before any read
  size_t Busy = 0;
  WalkStatus Status = WalkStatus::Done;  // the first reason to stop
  std::atomic<bool> Stopping{false};

  std::atomic<uint64_t> Directories{0};
  std::atomic<uint64_t> Entries{0};
  // Directories kept open for their directories to be opened relative to
  // them; beyond the budget a directory is opened by its path from the root.
  std::atomic<int> KeptFds{0};
  int KeptFdBudget = 0;
};

// What one job leaves for the queue.
struct JobOutput {
  std::vector<std::unique_ptr<Directory>> Found;  // directories to read
  std::vector<std::pair<uint32_t, int>> Failures;
};

void StopWalk(WalkState& s, WalkStatus why) {
  std::lock_guard<std::mutex> lock(s.Mutex);
  if (s.Status == WalkStatus::Done) s.Status = why;
  s.Stopping = true;
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
EntryState WalkInto(WalkState& s, Directory& d, uint32_t slot, const EntryFacts& facts,
                    const Identity* id, bool isLink) {
  const WalkArgs& args = *s.Args;
  if (args.MaxDepth != 0 && d.Depth >= args.MaxDepth) return EntryState::Listed;
  if (isLink && !s.Follow) return EntryState::Listed;
  if (id != nullptr) {
    if ((args.Flags & kWalkSameDevice) != 0 && id->Device != s.RootDevice) {
      return EntryState::Listed;
    }
    if (OnPath(&d, id->Device, id->Inode)) return EntryState::Loop;
  }
  if (args.Enter != nullptr) {
    const NameRecord& entry = d.Entries[slot];
    const WalkEntry asked{std::string_view(d.Names.data() + entry.Offset, entry.Length), facts,
                          d.Depth, EntryState::Walked, 0};
    const WalkAnswer answer = args.Enter(args.Context, asked);
    if (answer == WalkAnswer::Stop) StopWalk(s, WalkStatus::Stopped);
    if (answer != WalkAnswer::Continue) return EntryState::Listed;
  }
  return EntryState::Walked;
}

// Whether a NamesOnly walk describes an entry of this d_type as it walks: an
// unknown type may be a directory; a directory when the walk needs where it
// lives (links followed, or one device only); a link when it is followed.
bool NeedsDescription(const WalkState& s, uint8_t type) {
  const bool identities = s.Follow || (s.Args->Flags & kWalkSameDevice) != 0;
  return !s.Args->NamesOnly || type == DT_UNKNOWN || (type == DT_DIR && identities) ||
         (type == DT_LNK && s.Follow);
}

// An entry's facts: a pending entry has its type alone (and the owner's write
// permission, so that it is not taken as read-only), and a directory that
// holds no entry to describe keeps no facts at all.
EntryFacts FactsOf(const Directory& d, uint32_t slot) {
  if (d.Entries[slot].Pending != 0 || d.Facts.empty()) {
    return EntryFacts{static_cast<uint32_t>(DTTOIF(d.Entries[slot].Type) | S_IWUSR), 0, 0, 0,
                      false};
  }
  return d.Facts[slot];
}

// A directory to read, found at entry `slot` of `d`.
void FoundDirectory(Directory& d, uint32_t slot, const Identity& id, JobOutput& out) {
  if (d.KeepFd) d.Holds.fetch_add(1);
  auto child = std::make_unique<Directory>();
  child->Parent = &d;
  child->Slot = slot;
  child->Depth = d.Depth + 1;
  child->Device = id.Device;
  child->Inode = id.Inode;
  out.Found.push_back(std::move(child));
}

// Describes entries [begin, end) of `d` and finds the directories to walk.
void DescribeBlock(WalkState& s, Directory& d, uint32_t begin, uint32_t end, JobOutput& out) {
  for (uint32_t i = begin; i < end && !s.Stopping; ++i) {
    NameRecord& entry = d.Entries[i];
    const char* const name = d.Names.data() + entry.Offset;
    Identity id{};
    bool isLink = false;
    if (entry.Length > s.Args->MaxName) {
      entry.State = EntryState::Failed;
      out.Failures.emplace_back(i, ENAMETOOLONG);
      continue;
    }
    if (!NeedsDescription(s, entry.Type)) {
      entry.Pending = 1;
      entry.State = entry.Type == DT_DIR ? WalkInto(s, d, i, FactsOf(d, i), nullptr, false)
                                         : EntryState::Listed;
      if (entry.State == EntryState::Walked) FoundDirectory(d, i, id, out);
      continue;
    }
    EntryFacts& facts = d.Facts[i];
    const Described described = DescribeEntry(d.Fd, name, entry.Type, facts, id, isLink);
    if (described == Described::Vanished) continue;
    if (described == Described::Denied) {
      // Without search permission no entry of it can be described.
      d.Error = EACCES;
      return;
    }
    if (described == Described::Failed) {
      entry.State = EntryState::Failed;
      out.Failures.emplace_back(i, errno);
      continue;
    }
    entry.State = S_ISDIR(facts.Mode) ? WalkInto(s, d, i, facts, &id, isLink) : EntryState::Listed;
    if (entry.State == EntryState::Walked) FoundDirectory(d, i, id, out);
  }
}

// The last use of a directory's descriptor closes it: its last block
// described, or its last directory opened.
void Release(WalkState& s, Directory& d) {
  if (d.Holds.fetch_sub(1) != 1 || d.Fd == s.RootFd) return;
  close(d.Fd);
  d.Fd = -1;
  if (d.KeepFd) s.KeptFds.fetch_sub(1);
}

// Opens a directory to read: relative to its parent's descriptor when the
// parent kept it, else by its path from the root.
int OpenToRead(WalkState& s, Directory& d) {
  if (d.Parent == nullptr) return s.RootFd;
  Directory& parent = *d.Parent;
  if (!parent.KeepFd) return OpenBelowRoot(s.RootFd, &d, s.Follow);
  const int fd = OpenDirectoryAt(parent.Fd, parent.Names.data() + parent.Entries[d.Slot].Offset,
                                 s.Follow, true);
  const int saved = errno;
  Release(s, parent);
  errno = saved;
  return fd;
}

void Queue(WalkState& s, std::vector<Job>& queue, const Job& job) {
  std::lock_guard<std::mutex> lock(s.Mutex);
  queue.push_back(job);
  s.Wake.notify_one();
}

// Reads a directory and describes its first block; the other blocks go on
// the queue for any thread.
void ReadDirectory(WalkState& s, Directory& d, char* buffer, JobOutput& out) {
  if (s.Stopping) {
    if (d.Parent != nullptr && d.Parent->KeepFd) Release(s, *d.Parent);
    return;
  }
  const int fd = OpenToRead(s, d);
  if (fd < 0) {
    // A directory gone meanwhile (or turned into a link) is left empty.
    if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) d.Error = errno;
    return;
  }
  const int readError = ReadNames(fd, buffer, d);
  const uint32_t count = static_cast<uint32_t>(d.Entries.size());
  if (readError != 0 || count == 0) {
    if (fd != s.RootFd) close(fd);
    d.Error = readError;
    d.Entries.clear();
    return;
  }
  s.Directories.fetch_add(1, std::memory_order_relaxed);
  if (s.Entries.fetch_add(count) + count > s.Args->MaxEntries) {
    if (fd != s.RootFd) close(fd);
    StopWalk(s, WalkStatus::TooLarge);
    return;
  }
  SortNames(d);
  if (std::any_of(d.Entries.begin(), d.Entries.end(),
                  [&s](const NameRecord& e) { return NeedsDescription(s, e.Type); })) {
    d.Facts.resize(count);
  }
  d.Fd = fd;
  d.KeepFd = fd == s.RootFd || s.KeptFds.fetch_add(1) < s.KeptFdBudget;
  if (!d.KeepFd) s.KeptFds.fetch_sub(1);
  const uint32_t blocks = (count + kBlock - 1) / kBlock;
  d.Holds = blocks;
  for (uint32_t b = 1; b < blocks; ++b) {
    Queue(s, s.Blocks, Job{&d, b * kBlock, std::min(count, (b + 1) * kBlock)});
  }
  DescribeBlock(s, d, 0, std::min(count, kBlock), out);
  Release(s, d);
}

// Hands a job's findings to the queue and the tree.
void TakeOutput(WalkState& s, Directory& d, JobOutput& out) {
  for (std::unique_ptr<Directory>& found : out.Found) {
    Directory* const child = found.get();
    s.Tree->Directories.push_back(std::move(found));
    d.Children.emplace_back(child->Slot, child);
    s.Reads.push_back(Job{child, 0, 0});
  }
  d.Failures.insert(d.Failures.end(), out.Failures.begin(), out.Failures.end());
}

uint64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1'000'000;
}

// The calling thread's share: it also starts the helpers, once there is work
// for more than one thread, and reports the progress.
struct CallerDuties {
  std::vector<std::thread>* Helpers = nullptr;
  uint64_t Start = 0;
  uint64_t NextReport = 0;
  const Directory* LastRead = nullptr;
};

void Work(WalkState& s, CallerDuties* caller);

void Report(WalkState& s, CallerDuties& caller) {
  const uint64_t now = NowMs();
  if (s.Args->Progress == nullptr || now < caller.NextReport) return;
  caller.NextReport = now + kProgressEveryMs;
  WalkProgress progress{s.Directories.load(), s.Entries.load(), now - caller.Start,
                        caller.LastRead != nullptr ? PathBelowRoot(caller.LastRead) : ""};
  s.Args->Progress(s.Args->Context, progress);
}

void StartHelpers(WalkState& s, CallerDuties& caller, size_t queued) {
  while (caller.Helpers->size() + 1 < s.Threads && queued > caller.Helpers->size()) {
    try {
      caller.Helpers->emplace_back([&s] { Work(s, nullptr); });
    } catch (const std::system_error&) {
      s.Threads = caller.Helpers->size() + 1;  // fewer helpers: the work gets done all the same
    }
  }
}

void Work(WalkState& s, CallerDuties* caller) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadBytes]);
  if (buffer == nullptr) {
    StopWalk(s, WalkStatus::OutOfMemory);
    return;
  }
  std::unique_lock<std::mutex> lock(s.Mutex);
  while (true) {
    if (!s.Blocks.empty() || !s.Reads.empty()) {
      std::vector<Job>& queue = !s.Blocks.empty() ? s.Blocks : s.Reads;
      const Job job = queue.back();
      queue.pop_back();
      ++s.Busy;
      lock.unlock();
      JobOutput out;
      try {
        if (job.Begin == job.End) {
          ReadDirectory(s, *job.Dir, buffer.get(), out);
          if (caller != nullptr) caller->LastRead = job.Dir;
        } else {
          DescribeBlock(s, *job.Dir, job.Begin, job.End, out);
          Release(s, *job.Dir);
        }
      } catch (const std::bad_alloc&) {
        StopWalk(s, WalkStatus::OutOfMemory);
        out = JobOutput();
      }
      lock.lock();
      --s.Busy;
      try {
        TakeOutput(s, *job.Dir, out);
      } catch (const std::bad_alloc&) {
        if (s.Status == WalkStatus::Done) s.Status = WalkStatus::OutOfMemory;
        s.Stopping = true;
      }
      const size_t queued = s.Reads.size() + s.Blocks.size();
      if (queued > 1) s.Wake.notify_all();
      if (caller != nullptr) {
        lock.unlock();
        StartHelpers(s, *caller, queued);
        Report(s, *caller);
        lock.lock();
      }
      continue;
    }
    if (s.Busy == 0) {
      s.Wake.notify_all();
      return;
    }
    if (caller == nullptr || s.Args->Progress == nullptr) {
      s.Wake.wait(lock);
    } else {
      s.Wake.wait_for(lock, std::chrono::milliseconds(kProgressEveryMs));
      lock.unlock();
      Report(s, *caller);
      lock.lock();
    }
  }
}

bool HasFacts(EntryState state) {
  return state != EntryState::Vanished && state != EntryState::Failed;
}

// The directory an entry leads to, if the walk read it; `cursor` runs along
// d.Children as the entries are taken in order.
Directory* ChildAt(const Directory& d, uint32_t slot, size_t& cursor) {
  if (cursor < d.Children.size() && d.Children[cursor].first == slot) {
    return d.Children[cursor++].second;
  }
  return nullptr;
}

// Marks the directories whose entries are not visited, sorts what the
// threads added in no order, counts the entries VisitTree hands over, and
// works out where each directory's entries lie in tree order.
void Settle(WalkedTree& tree) {
  tree.Entries = 0;
  tree.Warnings = 0;
  for (const std::unique_ptr<Directory>& d : tree.Directories) {
    d->Hidden = d->Error != 0 || (d->Parent != nullptr && d->Parent->Hidden);
    std::sort(d->Children.begin(), d->Children.end());
    std::sort(d->Failures.begin(), d->Failures.end());
    if (d->Parent != nullptr && !d->Parent->Hidden && d->Error != 0) ++tree.Warnings;
    if (d->Hidden) continue;
    for (const NameRecord& entry : d->Entries) {
      tree.Entries += HasFacts(entry.State) ? 1 : 0;
      tree.Warnings += entry.State == EntryState::Failed || entry.State == EntryState::Loop;
    }
  }
  // Children come after their parents in the list: counted from the end,
  // each directory's count is complete before its parent's takes it.
  for (auto it = tree.Directories.rbegin(); it != tree.Directories.rend(); ++it) {
    Directory& d = **it;
    if (d.Hidden) continue;
    size_t cursor = 0;
    for (uint32_t i = 0; i < d.Entries.size(); ++i) {
      const Directory* child = ChildAt(d, i, cursor);
      if (!HasFacts(d.Entries[i].State)) continue;
      d.Below += 1 + (child != nullptr && !child->Hidden ? child->Below : 0);
    }
  }
  for (const std::unique_ptr<Directory>& d : tree.Directories) {
    if (d->Hidden) continue;
    uint64_t at = d->First;
    size_t cursor = 0;
    for (uint32_t i = 0; i < d->Entries.size(); ++i) {
      Directory* const child = ChildAt(*d, i, cursor);
      if (!HasFacts(d->Entries[i].State)) continue;
      if (child != nullptr && !child->Hidden) {
        child->Item = static_cast<uint32_t>(at);
        child->First = static_cast<uint32_t>(at + 1);
        at += child->Below;
      }
      ++at;
    }
  }
}

// Places the entries of the directories, taken a batch at a time.
void PlaceEntries(const WalkedTree& tree, std::atomic<size_t>& next,
                  void (*place)(void*, const WalkEntry&, uint32_t, uint32_t), void* context) {
  constexpr size_t kBatch = 64;
  for (size_t begin = next.fetch_add(kBatch); begin < tree.Directories.size();
       begin = next.fetch_add(kBatch)) {
    const size_t end = std::min(tree.Directories.size(), begin + kBatch);
    for (size_t k = begin; k < end; ++k) {
      const Directory& d = *tree.Directories[k];
      if (d.Hidden) continue;
      uint64_t at = d.First;
      size_t cursor = 0;
      for (uint32_t i = 0; i < d.Entries.size(); ++i) {
        const Directory* child = ChildAt(d, i, cursor);
        const NameRecord& record = d.Entries[i];
        if (!HasFacts(record.State)) continue;
        WalkEntry entry{std::string_view(d.Names.data() + record.Offset, record.Length),
                        FactsOf(d, i), d.Depth, record.State, 0};
        if (child != nullptr && child->Error != 0) {
          entry.State = EntryState::Unreadable;
          entry.Error = child->Error;
        }
        place(context, entry, static_cast<uint32_t>(at), d.Item);
        at += 1 + (child != nullptr && !child->Hidden ? child->Below : 0);
      }
    }
  }
}

// A block of a directory's entries for DescribeNamed, with where in tree
// order its first entry lies and where its directories begin in Children.
struct NamedJob {
  const Directory* Dir;
  uint32_t Begin;
  uint32_t End;
  uint64_t At;
  size_t Child;
};

struct NamedState {
  int RootFd;
  int RootError;
  bool Follow;
  bool (*Wanted)(void*, std::string_view);
  void (*Place)(void*, const WalkEntry&, uint32_t);
  void* Context;
};

// The blocks that hold pending entries, in tree order.
std::vector<NamedJob> NamedJobs(const WalkedTree& tree) {
  std::vector<NamedJob> jobs;
  for (const std::unique_ptr<Directory>& d : tree.Directories) {
    if (d->Hidden) continue;
    uint64_t at = d->First;
    size_t cursor = 0;
    bool named = false;
    NamedJob job{d.get(), 0, 0, at, 0};
    for (uint32_t i = 0; i < d->Entries.size(); ++i) {
      if (i % kBlock == 0) {
        if (named) jobs.push_back(job);
        job = NamedJob{d.get(), i, std::min<uint32_t>(i + kBlock, d->Entries.size()), at, cursor};
        named = false;
      }
      const Directory* child = ChildAt(*d, i, cursor);
      const NameRecord& record = d->Entries[i];
      if (!HasFacts(record.State)) continue;
      named = named || record.Pending != 0;
      at += 1 + (child != nullptr && !child->Hidden ? child->Below : 0);
    }
    if (named) jobs.push_back(job);
  }
  return jobs;
}

EntryState StateOfOpenError(int error) {
  return error == ENOENT || error == ENOTDIR || error == ELOOP ? EntryState::Vanished
                                                               : EntryState::Unreadable;
}

void DescribeNamedBlock(const NamedState& s, const NamedJob& job) {
  const Directory& d = *job.Dir;
  int fd = -1;
  int openError = 0;
  bool opened = false;
  uint64_t at = job.At;
  size_t cursor = job.Child;
  for (uint32_t i = job.Begin; i < job.End; ++i) {
    const Directory* child = ChildAt(d, i, cursor);
    const NameRecord& record = d.Entries[i];
    if (!HasFacts(record.State)) continue;
    const uint64_t here = at;
    at += 1 + (child != nullptr && !child->Hidden ? child->Below : 0);
    if (record.Pending == 0) continue;
    const char* const name = d.Names.data() + record.Offset;
    if (!s.Wanted(s.Context, std::string_view(name, record.Length))) continue;
    WalkEntry entry{std::string_view(name, record.Length), FactsOf(d, i), d.Depth,
                    EntryState::Listed, 0};
    if (!opened) {
      opened = true;
      fd = d.Parent == nullptr ? s.RootFd
           : s.RootFd < 0      ? -1
                               : OpenBelowRoot(s.RootFd, &d, s.Follow);
      openError = d.Parent == nullptr ? s.RootError : fd < 0 ? errno : 0;
    }
    if (fd < 0) {
      entry.State = StateOfOpenError(openError);
      entry.Error = openError;
    } else {
      Identity id{};
      bool isLink = false;
      switch (DescribeEntry(fd, name, record.Type, entry.Facts, id, isLink)) {
        case Described::Ok:
          break;
        case Described::Vanished:
          entry.State = EntryState::Vanished;
          break;
        case Described::Denied:
          entry.State = EntryState::Unreadable;
          entry.Error = EACCES;
          break;
        case Described::Failed:
          entry.State = EntryState::Failed;
          entry.Error = errno;
          break;
      }
    }
    s.Place(s.Context, entry, static_cast<uint32_t>(here));
  }
  if (fd >= 0 && fd != s.RootFd) close(fd);
}

// The number of processors this process may run on.
size_t Processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<size_t>(std::max(1, CPU_COUNT(&set)));
}

}  // namespace

WalkStatus WalkTree(const WalkArgs& args, WalkedTree& tree, std::string& error) {
  tree = WalkedTree();
  const auto fail = [&](const char* what, int code) {
    error = std::string(what) + " '" + args.Root + "': " + std::strerror(code);
    return WalkStatus::RootFailed;
  };
  WalkState s;
  s.Args = &args;
  s.Tree = &tree;
  s.Follow = (args.Flags & kWalkFollowLinks) != 0;
  s.Threads = args.Threads != 0 ? args.Threads : std::min<size_t>(Processors(), 8);
  rlimit files{};
  const rlim_t fileLimit = getrlimit(RLIMIT_NOFILE, &files) == 0 ? files.rlim_cur : 1024;
  s.KeptFdBudget = static_cast<int>(std::min<rlim_t>(256, fileLimit / 4));
  s.RootFd = open(args.Root, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (s.RootFd < 0) return fail("cannot open directory", errno);
  struct stat root {};
  if (fstat(s.RootFd, &root) != 0) {
    const int code = errno;
    close(s.RootFd);
    return fail("cannot open directory", code);
  }
  s.RootDevice = root.st_dev;
  try {
    auto first = std::make_unique<Directory>();
    first->Device = root.st_dev;
    first->Inode = root.st_ino;
    s.Reads.push_back(Job{first.get(), 0, 0});
    tree.Directories.push_back(std::move(first));
  } catch (const std::bad_alloc&) {
    close(s.RootFd);
    error = "not enough memory";
    return WalkStatus::OutOfMemory;
  }

  std::vector<std::thread> helpers;
  CallerDuties caller;
  caller.Helpers = &helpers;
  caller.Start = NowMs();
  caller.NextReport = caller.Start + kProgressEveryMs;
  Work(s, &caller);
  for (std::thread& helper : helpers) helper.join();
  // Blocks left on the queue by a stop leave their directories open.
  for (const std::unique_ptr<Directory>& d : tree.Directories) {
    if (d->Fd >= 0 && d->Fd != s.RootFd) close(d->Fd);
    d->Fd = -1;
  }
  close(s.RootFd);

  const Directory& top = *tree.Directories.front();
  if (s.Status == WalkStatus::Done && top.Error != 0) {
    return fail("cannot read directory", top.Error);
  }
  switch (s.Status) {
    case WalkStatus::TooLarge:
      error = "more entries below '" + std::string(args.Root) + "' than memory holds (" +
              std::to_string(s.Entries.load()) + " found, room for " +
              std::to_string(args.MaxEntries) + ")";
      return s.Status;
    case WalkStatus::OutOfMemory:
      error = "not enough memory for the entries below '" + std::string(args.Root) + "' (" +
              std::to_string(s.Entries.load()) + " found)";
      return s.Status;
    default:
      break;
  }
  Settle(tree);
  tree.Threads = s.Threads;
  return s.Status;
}

void LayOutTree(const WalkedTree& tree,
                void (*place)(void* context, const WalkEntry& entry, uint32_t at, uint32_t parent),
                void* context) {
  std::atomic<size_t> next{0};
  std::vector<std::thread> helpers;
  // A thread pays for itself on some thousands of entries.
  const size_t wanted = std::min<size_t>(tree.Threads, tree.Entries / 16384 + 1);
  for (size_t i = 1; i < wanted; ++i) {
    try {
      helpers.emplace_back([&] { PlaceEntries(tree, next, place, context); });
    } catch (const std::system_error&) {
      break;  // fewer helpers: the work gets done all the same
    }
  }
  PlaceEntries(tree, next, place, context);
  for (std::thread& helper : helpers) helper.join();
}

void VisitTree(const WalkedTree& tree, WalkAnswer (*visit)(void* context, const WalkEntry& entry),
               void* context) {
  if (tree.Directories.empty() || tree.Directories.front()->Hidden) return;
  struct Frame {
    const Directory* Dir;
    uint32_t Next;   // the entry to visit next
    size_t Child;    // the next of Dir->Children
    size_t Failure;  // the next of Dir->Failures
  };
  std::vector<Frame> stack{Frame{tree.Directories.front().get(), 0, 0, 0}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const Directory& d = *frame.Dir;
    if (frame.Next == d.Entries.size()) {
      stack.pop_back();
      continue;
    }
    const uint32_t i = frame.Next++;
    const NameRecord& record = d.Entries[i];
    if (record.State == EntryState::Vanished) continue;
    WalkEntry entry{std::string_view(d.Names.data() + record.Offset, record.Length), FactsOf(d, i),
                    d.Depth, record.State, 0};
    const Directory* const child = ChildAt(d, i, frame.Child);
    if (child != nullptr && child->Error != 0) {
      entry.State = EntryState::Unreadable;
      entry.Error = child->Error;
    }
    if (record.State == EntryState::Failed && frame.Failure < d.Failures.size() &&
        d.Failures[frame.Failure].first == i) {
      entry.Error = d.Failures[frame.Failure++].second;
    }
    const WalkAnswer answer = visit(context, entry);
    if (answer == WalkAnswer::Stop) return;
    if (answer == WalkAnswer::Continue && child != nullptr && !child->Hidden) {
      stack.push_back(Frame{child, 0, 0, 0});
    }
  }
}

void DescribeNamed(const WalkedTree& tree, const WalkArgs& args,
                   bool (*wanted)(void* context, std::string_view name),
                   void (*place)(void* context, const WalkEntry& entry, uint32_t at),
                   void* context) {
  const std::vector<NamedJob> jobs = NamedJobs(tree);
  if (jobs.empty()) return;
  NamedState s{-1, 0, (args.Flags & kWalkFollowLinks) != 0, wanted, place, context};
  s.RootFd = open(args.Root, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (s.RootFd < 0) s.RootError = errno;
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t k = next.fetch_add(1); k < jobs.size(); k = next.fetch_add(1)) {
      DescribeNamedBlock(s, jobs[k]);
    }
  };
  std::vector<std::thread> helpers;
  const size_t threads = std::min(tree.Threads, jobs.size());
  for (size_t i = 1; i < threads; ++i) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer helpers: the work gets done all the same
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  if (s.RootFd >= 0) close(s.RootFd);
}

}  // namespace marlit::console
