// The active panel of the console host: the entries of a directory, or of a
// whole tree below it, as the host's PluginPanelItem records with a table of
// where each lies; and the mapping from what Linux knows about a file to the
// six Windows attributes the plug-in tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/tree_walk.h"
#include "host/records.h"

namespace marlit::console {

// 11644473600 s = 134774 days from 1601-01-01 to 1970-01-01.
constexpr int64_t kSeconds1601To1970 = 11'644'473'600;

// A Unix time (seconds and nanoseconds since 1970) as a time stamp: 100-ns
// units since 1601. Times before 1601 give 0; times past what a stamp can
// hold give the last stamp Windows converts (2^63 - 1).
uint64_t StampOfUnixTime(int64_t seconds, uint32_t nanoseconds);

// The inverse, to whole seconds (rounded down).
int64_t UnixSecondsOfStamp(uint64_t stamp);

// The Windows attributes of an entry: directory; hidden when the name begins
// with '.'; read-only when the owner may not write; system for devices, FIFOs
// and sockets; archive for regular files; compressed when the file system
// reports it (only regular files and directories). `mode` is st_mode.
uint32_t AttributesOf(std::string_view name, uint32_t mode, bool compressed);

// Fills an item for a panel: name, size (0 for a directory, as the host on
// Windows reports one), last-write stamp, attributes; every other member 0.
// Returns false when the name does not fit cFileName (259 bytes at most).
bool FillPanelItem(std::string_view name, const EntryFacts& facts, PluginPanelItem& item);

// The same for an item whose memory is zero and a name that fits: only the
// members named above are written.
void FillZeroItem(std::string_view name, const EntryFacts& facts, PluginPanelItem& item);

// Gives out zeroed memory, and leaves a new item as the memory holds it: a
// panel made afresh is zero without a pass over it, and its pages are first
// touched by the threads that lay out its entries.
template <typename T>
struct ZeroedAllocator {
  using value_type = T;
  ZeroedAllocator() = default;
  template <typename U>
  ZeroedAllocator(const ZeroedAllocator<U>&) {}
  T* allocate(size_t count) {
    void* const block = std::calloc(count, sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* block, size_t) { std::free(block); }
  template <typename U>
  void construct(U* at) {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(static_cast<Args&&>(args)...);
  }
  bool operator==(const ZeroedAllocator&) const { return true; }
};

// The items of a panel.
using PanelItems = std::vector<PluginPanelItem, ZeroedAllocator<PluginPanelItem>>;

// The path table beside a panel: for each item, the index of the item of the
// directory it lies in, or kNoParent for an entry of the listed directory
// itself. Each item holds its own name, so a path is a chain of links.
using PathTable = std::vector<uint32_t>;
constexpr uint32_t kNoParent = UINT32_MAX;

struct ListingRequest {
  const char* Directory = ".";
  std::string Shown;              // what paths begin with in messages: "" or "DIR/"
  uint32_t MaxDepth = 1;          // 1: the directory's own entries; 0: any depth
  uint32_t Flags = 0;             // WalkFlag bits
  std::vector<std::string> Skip;  // masks: directories they match are listed, not walked into
  bool Progress = false;          // a status line on standard error if the walk takes a while
  bool Quiet = false;             // no warnings (errors are still told)
  // Tells a line for standard error, without the program's name; null: it is
  // printed at once.
  void (*Tell)(const std::string& line) = nullptr;
  uint64_t MaxEntries = 0;  // 0: as many as memory holds
  // Entries are listed with their names and the types their directories give
  // (size and write time 0, taken as writable and not compressed, a link as
  // a link) until DescribeListed reads them: a run that selects by name never
  // needs the rest of what it does not select. What the walk itself needs is
  // still read as it goes (see WalkArgs::NamesOnly).
  bool NamesOnly = false;
};

// Lists the entries below a directory (not the directory itself) in tree
// order: a directory's entries sorted by name in byte order, each walked
// directory's contents right after it. Entries that vanish meanwhile are left
// out silently; an entry that cannot be described or named in the panel, and
// a directory below that cannot be read, get a message (through Tell) and
// count in `problems`. Returns false, with a one-line reason in `error`, when
// the directory cannot be read at all or its tree does not fit in memory.
// With NamesOnly, the walk is kept in `kept` for DescribeListed.
bool ListTree(const ListingRequest& request, PanelItems& items, PathTable& parents, int& problems,
              std::string& error, WalkedTree* kept = nullptr);

// Reads the facts of the entries a NamesOnly listing left undescribed whose
// names `mask` matches (every one when it is null) into their items, in
// place. An entry gone meanwhile is marked in `gone` (one byte per item, made
// on the first call); so is one that cannot be described, with a message
// that counts in `problems`, as does a directory that cannot be opened again
// (one message for it).
void DescribeListed(const ListingRequest& request, const WalkedTree& tree, const std::string* mask,
                    PanelItems& items, const PathTable& parents, std::vector<uint8_t>& gone,
                    int& problems);

// Appends the path of item `index` below the listed directory: the names of
// the directories it lies in and its own, joined by '/'.
void AppendPath(std::string& out, std::span<const PluginPanelItem> items,
                std::span<const uint32_t> parents, size_t index);

// How many entries a panel may hold in the memory this process can have:
// each takes its item, its link in the path table and the walk's record.
uint64_t EntriesMemoryHolds();

}  // namespace marlit::console
