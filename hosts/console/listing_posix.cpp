// Linux only: the console host's panel from a walk of the tree below a
// directory (tree_walk_posix.cpp reads it), a status line while the walk runs,
// and what memory the system leaves for the panel. The panel of the file
// manager on Windows comes from FindFirstFile; this file stands in for that.
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>

#include "console/listing.h"
#include "console/wildcard.h"
#include "engine/mask_list.h"
#include "platform/text.h"

namespace marlit::console {
namespace {

constexpr uint64_t kLastStamp = uint64_t{INT64_MAX};

bool MayBeCompressed(uint32_t mode) { return S_ISREG(mode) || S_ISDIR(mode); }

// What the walk keeps of an entry until the panel is filled: its record, its
// facts and its name (a generous mean).
constexpr uint64_t kWalkBytesPerEntry = 16 + sizeof(EntryFacts) + 48;

// A large panel is written once from end to end: large pages spare the
// kernel a fault for every 4 KiB of it. Only the whole 2 MiB pages inside the
// block are asked for; a refusal changes nothing.
void AskForLargePages(void* block, size_t bytes) {
  constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kLargePage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

// The status line on a terminal: directories and entries so far and the
// directory being read, cut to the terminal's width so that it never wraps,
// rewritten in place.
struct StatusLine {
  const std::string* Shown = nullptr;
  bool Drawn = false;
};

void DrawStatus(void* context, const WalkProgress& progress) {
  auto& status = *static_cast<StatusLine*>(context);
  if (progress.Milliseconds < 1000) return;
  winsize size{};
  const size_t width = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1
                           ? size_t{size.ws_col} - 1
                           : 79;
  std::string line = "marlit: " + std::to_string(progress.Directories) + " directories, " +
                     std::to_string(progress.Entries) + " entries: " + *status.Shown +
                     progress.Directory;
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  if (line.size() > width) line.resize(width);
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
  status.Drawn = true;
}

struct WalkContext {
  const ListingRequest* Request;
  StatusLine Status;
  std::vector<MaskList> Skip;  // read once, matched as the plug-in matches its mask
};

WalkAnswer EnterUnlessSkipped(void* context, const WalkEntry& directory) {
  for (const MaskList& mask : static_cast<WalkContext*>(context)->Skip) {
    if (MaskMatches(mask, ConsoleCmpName, directory.Name.data())) return WalkAnswer::Prune;
  }
  return WalkAnswer::Continue;
}

void ReportProgress(void* context, const WalkProgress& progress) {
  DrawStatus(&static_cast<WalkContext*>(context)->Status, progress);
}

// The panel and its path table, filled by the walk's threads.
struct Panel {
  PluginPanelItem* Items;
  uint32_t* Parents;
};

void PlaceItem(void* context, const WalkEntry& entry, uint32_t at, uint32_t parent) {
  const Panel& panel = *static_cast<const Panel*>(context);
  FillZeroItem(entry.Name, entry.Facts, panel.Items[at]);
  panel.Parents[at] = parent;
}

// A message for standard error, through the request's Tell.
void Tell(const ListingRequest& request, const std::string& line) {
  if (request.Tell != nullptr) {
    request.Tell(line);
  } else {
    std::fprintf(stderr, "marlit: %s\n", line.c_str());
  }
}

// The warnings of a walk, in tree order, with the paths as printed.
struct Warner {
  const ListingRequest* Request = nullptr;
  std::span<const PluginPanelItem> Items;
  std::span<const uint32_t> Parents;
  uint32_t Next = 0;                  // the position of the next entry with facts
  std::vector<uint32_t> Directories;  // by depth: the position of the directory's entry
  int Problems = 0;
};

WalkAnswer WarnOf(void* context, const WalkEntry& entry) {
  Warner& w = *static_cast<Warner*>(context);
  const uint32_t parent = w.Directories[entry.Depth - 1];
  const auto warn = [&](const char* kind, const std::string& what) {
    std::string line = kind + w.Request->Shown;
    if (parent != kNoParent) {
      AppendPath(line, w.Items, w.Parents, parent);
      line += '/';
    }
    line += entry.Name;
    line += ": " + what;
    Tell(*w.Request, line);
  };
  if (entry.State == EntryState::Failed) {
    warn("", entry.Error == ENAMETOOLONG ? std::string("name longer than 259 bytes, left out")
                                         : std::string("left out: ") + std::strerror(entry.Error));
    ++w.Problems;
    return WalkAnswer::Continue;
  }
  const uint32_t at = w.Next++;
  if (entry.State == EntryState::Walked) {
    w.Directories.resize(entry.Depth + 1);
    w.Directories[entry.Depth] = at;
  } else if (entry.State == EntryState::Unreadable) {
    warn("", std::string("cannot read directory: ") + std::strerror(entry.Error));
    ++w.Problems;
  } else if (entry.State == EntryState::Loop && !w.Request->Quiet) {
    warn("warning: ", "leads back to a directory above it, not walked into (a file system loop)");
  }
  return WalkAnswer::Continue;
}

// Entries described after the listing: the facts go straight into their
// items; what went wrong is kept for messages in tree order.
struct Describer {
  const MaskList* Mask;
  PluginPanelItem* Items;
  uint8_t* Gone;
  std::mutex Mutex;
  std::vector<std::pair<uint32_t, WalkEntry>> Troubles;
};

bool Wanted(void* context, std::string_view name) {
  const MaskList* const mask = static_cast<const Describer*>(context)->Mask;
  return mask == nullptr || MaskMatches(*mask, ConsoleCmpName, name.data());
}

void PlaceDescribed(void* context, const WalkEntry& entry, uint32_t at) {
  Describer& d = *static_cast<Describer*>(context);
  if (entry.State == EntryState::Listed) {
    FillZeroItem(entry.Name, entry.Facts, d.Items[at]);
    return;
  }
  d.Gone[at] = 1;
  if (entry.State == EntryState::Vanished) return;
  std::lock_guard<std::mutex> lock(d.Mutex);
  d.Troubles.emplace_back(at, entry);
}

// The first number of a "Key: number kB" line of a /proc file, in bytes.
uint64_t ProcValue(const char* file, const char* key) {
  std::ifstream in(file);
  std::string line;
  const size_t length = std::strlen(key);
  while (std::getline(in, line)) {
    if (line.compare(0, length, key) == 0 && line.size() > length && line[length] == ':') {
      return std::strtoull(line.c_str() + length + 1, nullptr, 10) * 1024;
    }
  }
  return UINT64_MAX;
}

uint64_t FileNumber(const std::string& path) {
  std::ifstream in(path);
  uint64_t value = UINT64_MAX;
  if (!(in >> value)) return UINT64_MAX;
  return value;
}

// What the memory control group of this process still allows (version 2 or
// version 1), or UINT64_MAX when it sets no limit.
uint64_t GroupRoom() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  while (std::getline(in, line)) {
    std::string limit, usage;
    if (line.starts_with("0::")) {
      const std::string dir = "/sys/fs/cgroup" + line.substr(3);
      limit = dir + "/memory.max";
      usage = dir + "/memory.current";
    } else if (const size_t at = line.find(":memory:"); at != std::string::npos) {
      const std::string dir = "/sys/fs/cgroup/memory" + line.substr(at + 8);
      limit = dir + "/memory.limit_in_bytes";
      usage = dir + "/memory.usage_in_bytes";
    } else {
      continue;
    }
    const uint64_t max = FileNumber(limit), used = FileNumber(usage);
    if (max != UINT64_MAX && used != UINT64_MAX && max < (uint64_t{1} << 60)) {
      return max > used ? max - used : 0;
    }
  }
  return UINT64_MAX;
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
  FillZeroItem(name, facts, item);
  return true;
}

void FillZeroItem(std::string_view name, const EntryFacts& facts, PluginPanelItem& item) {
  HostFindData& data = item.FindData;
  CopyText(data.cFileName, kMaxPath, name);
  const uint64_t size = S_ISDIR(facts.Mode) ? 0 : facts.Size;
  data.nFileSizeHigh = static_cast<uint32_t>(size >> 32);
  data.nFileSizeLow = static_cast<uint32_t>(size);
  data.ftLastWriteTime = FileTimeOf(StampOfUnixTime(facts.WriteSeconds, facts.WriteNanoseconds));
  data.dwFileAttributes = AttributesOf(name, facts.Mode, facts.Compressed);
}

bool ListTree(const ListingRequest& request, PanelItems& items, PathTable& parents, int& problems,
              std::string& error, WalkedTree* kept) {
  WalkContext context{&request, StatusLine{&request.Shown, false}, {}};
  context.Skip.resize(request.Skip.size());
  for (size_t i = 0; i < request.Skip.size(); ++i) ReadMaskList(request.Skip[i], context.Skip[i]);
  WalkArgs args;
  args.Root = request.Directory;
  args.MaxDepth = request.MaxDepth;
  args.Flags = request.Flags;
  args.MaxEntries = request.MaxEntries != 0 ? request.MaxEntries : EntriesMemoryHolds();
  args.MaxName = kMaxPath - 1;
  args.Enter = request.Skip.empty() ? nullptr : EnterUnlessSkipped;
  args.Progress = request.Progress ? ReportProgress : nullptr;
  args.Context = &context;
  args.NamesOnly = request.NamesOnly;
  WalkedTree tree;
  const WalkStatus status = WalkTree(args, tree, error);
  if (context.Status.Drawn) std::fputs("\r\033[K", stderr);
  if (status != WalkStatus::Done && status != WalkStatus::Stopped) return false;
  if (tree.Entries > args.MaxEntries || tree.Entries >= UINT32_MAX) {
    error = "more entries below '" + std::string(request.Directory) + "' than a panel holds";
    return false;
  }

  // The panel is filled in place, in fresh zeroed memory.
  items = PanelItems();
  parents = PathTable();
  try {
    items.reserve(tree.Entries);
    parents.resize(tree.Entries);
  } catch (const std::bad_alloc&) {
    items = PanelItems();
    parents = PathTable();
    error = "not enough memory for a panel of " + std::to_string(tree.Entries) + " entries";
    return false;
  }
  AskForLargePages(items.data(), items.capacity() * sizeof(PluginPanelItem));
  items.resize(tree.Entries);
  Panel panel{items.data(), parents.data()};
  LayOutTree(tree, PlaceItem, &panel);
  if (tree.Warnings > 0) {
    Warner warner;
    warner.Request = &request;
    warner.Items = items;
    warner.Parents = parents;
    warner.Directories.push_back(kNoParent);
    VisitTree(tree, WarnOf, &warner);
    problems += warner.Problems;
  }
  if (kept != nullptr && request.NamesOnly) *kept = std::move(tree);
  return true;
}

void DescribeListed(const ListingRequest& request, const WalkedTree& tree, const std::string* mask,
                    PanelItems& items, const PathTable& parents, std::vector<uint8_t>& gone,
                    int& problems) {
  if (gone.size() != items.size()) gone.assign(items.size(), 0);
  std::unique_ptr<MaskList> list;
  if (mask != nullptr) {
    list = std::make_unique<MaskList>();
    ReadMaskList(*mask, *list);
  }
  Describer describer{list.get(), items.data(), gone.data(), {}, {}};
  WalkArgs args;
  args.Root = request.Directory;
  args.Flags = request.Flags;
  DescribeNamed(tree, args, Wanted, PlaceDescribed, &describer);
  std::sort(describer.Troubles.begin(), describer.Troubles.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::set<uint32_t> told;  // directories that could not be read
  for (const auto& [at, entry] : describer.Troubles) {
    std::string line = request.Shown;
    if (entry.State == EntryState::Unreadable) {
      // One message for the directory, whatever it held.
      const uint32_t directory = parents[at];
      if (!told.insert(directory).second) continue;
      if (directory == kNoParent) {
        line = request.Directory;
      } else {
        AppendPath(line, items, parents, directory);
      }
      line += std::string(": cannot read directory: ") + std::strerror(entry.Error);
    } else {
      AppendPath(line, items, parents, at);
      line += std::string(": left out: ") + std::strerror(entry.Error);
    }
    Tell(request, line);
    ++problems;
  }
}

void AppendPath(std::string& out, std::span<const PluginPanelItem> items,
                std::span<const uint32_t> parents, size_t index) {
  if (index >= items.size()) return;
  // The chain is walked from the item up, each link to an earlier item; the
  // names go in from the top down.
  uint32_t chain[64];
  size_t depth = 0;
  for (size_t at = index;;) {
    if (depth == std::size(chain)) {
      // A deeper item: the path of this directory first, by the same rule.
      AppendPath(out, items, parents, at);
      out += '/';
      break;
    }
    chain[depth++] = static_cast<uint32_t>(at);
    const uint32_t up = at < parents.size() ? parents[at] : kNoParent;
    if (up >= at) break;
    at = up;
  }
  while (depth > 0) {
    const char* name = items[chain[--depth]].FindData.cFileName;
    out.append(name, BoundedLength(name, kMaxPath));
    if (depth > 0) out += '/';
  }
}

uint64_t EntriesMemoryHolds() {
  const uint64_t available = ProcValue("/proc/meminfo", "MemAvailable");
  const uint64_t swap = ProcValue("/proc/meminfo", "SwapFree");
  uint64_t room = available == UINT64_MAX ? UINT64_MAX
                  : swap == UINT64_MAX    ? available
                                          : available + swap;
  room = std::min(room, GroupRoom());
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit limit{};
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
      room = std::min<uint64_t>(room, limit.rlim_cur);
    }
  }
  if (room == UINT64_MAX) return UINT64_MAX;
  return room / (sizeof(PluginPanelItem) + sizeof(uint32_t) + kWalkBytesPerEntry);
}

}  // namespace marlit::console
