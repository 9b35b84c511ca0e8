// The active panel of the console host: the entries of a directory, or of a
// whole tree below it, shown to the plug-in as a sequence of windows of
// PluginPanelItem records (the same buffers each time); and the mapping from
// what Linux knows about a file to the six Windows attributes the plug-in
// tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "console/panel/walk.h"
#include "engine/mask_list.h"
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

// Writes into an item only what FillPanelItem sets apart from zeros (the
// name and its terminator, size, last write, attributes, and Flags 0): for a
// record whose other members are zero and stay so. A name too long for
// cFileName is cut.
void RefillPanelItem(std::string_view name, const EntryFacts& facts, PluginPanelItem& item);

// Gives out zeroed memory and leaves a new item as the memory holds it: the
// window's records start as zeros, and taking an entry writes only the
// members it sets.
template <typename T>
struct UninitializedAllocator {
  using value_type = T;
  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) {}
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
  bool operator==(const UninitializedAllocator&) const { return true; }
};

// The items of a panel.
using PanelItems = std::vector<PluginPanelItem, UninitializedAllocator<PluginPanelItem>>;

// The plug-in is shown a tree this many entries at a time.
constexpr size_t kWindowEntries = 4096;

// One window of the panel: its items, and for each the directory it lies in
// below the listed one ('/'-ended, "" for the listed directory's own
// entries). Each item holds its own name, so a path is the two together.
struct PanelWindow {
  PanelItems Items;
  std::vector<std::string_view> Directories;
  std::vector<uint8_t> Gone;  // found gone when described: never shown as selected
};

struct ListingRequest {
  const char* Directory = ".";
  std::string Shown;              // what paths begin with in messages: "" or "DIR/"
  uint32_t MaxDepth = 1;          // 1: the directory's own entries; 0: any depth
  uint32_t Flags = 0;             // WalkFlag bits
  std::vector<std::string> Skip;  // masks: directories they match are listed, not walked into
  // The host's matching of one pattern, for Skip and for the mask of the
  // entries to describe; masks are lists, read as the plug-in reads them.
  FarApiCmpName Match = nullptr;
  bool Progress = false;  // a status line on standard error if the walk takes a while
  bool Quiet = false;     // no warnings (errors are still told)
  size_t Threads = 0;     // the walk's threads; 0: one per processor
  // Lines for standard error, without the program's name: Tell the walk's
  // as it meets them; TellLater the problems met describing the entries the
  // criteria look at, which follow the walk's. Null: printed at once.
  void (*Tell)(const std::string& line) = nullptr;
  void (*TellLater)(const std::string& line) = nullptr;
};

// Which entries the criteria look at beyond their names: none, those whose
// names the mask matches (the plug-in tests the mask first, so no other can
// pass), or every one.
enum class DescribeWhat { None, Matching, Every };

struct DescribeRule {
  DescribeWhat What = DescribeWhat::None;
  std::string Mask;
  // Whether directories are described too: not when the criteria look at no
  // more of a directory than its type gives (a size criterion alone: every
  // directory has size 0 in the panel).
  bool Directories = true;
};

// One listing of a tree, window by window. Stays where it was opened.
struct TreeListing {
  const ListingRequest* Request = nullptr;
  WalkArgs Args;
  WalkHandle Walk;
  std::vector<MaskList> Skip;
  MaskList Wanted;
  bool Drawn = false;  // the status line is on the screen
  int Problems = 0;    // entries and directories told of as errors
  bool Ended = false;
};

// Opens the directory and reads its names. Returns false, with a one-line
// reason in `error`, when it cannot be opened or read.
bool OpenListing(const ListingRequest& request, TreeListing& listing, std::string& error);

// Before the first window: which entries to describe.
void DescribeFor(TreeListing& listing, const DescribeRule& rule);

// Fills `window` with the next entries in tree order (a directory's entries
// sorted by name in byte order, each walked directory's contents right after
// it), at most `capacity` of them; the views of the window before are then
// gone. Entries that vanish meanwhile are left out silently; an entry that
// cannot be described or named in the panel, and a directory below that
// cannot be read, are told of and count in Problems. Returns false when no
// entry was left (the window is then empty).
bool NextWindow(TreeListing& listing, PanelWindow& window, size_t capacity);

// Erases the status line, if one is drawn, before output goes to the screen.
void ClearStatus(TreeListing& listing);

// Appends the path of item `index` of the window below the listed directory.
void AppendPath(std::string& out, const PanelWindow& window, size_t index);

}  // namespace marlit::console
