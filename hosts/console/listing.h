// The active panel of the console host: the entries of one directory as the
// host's PluginPanelItem records, and the mapping from what Linux knows about
// a file to the six Windows attributes the plug-in tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

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

// What the listing learnt about one entry.
struct EntryFacts {
  uint32_t Mode;  // st_mode of the target, or of the link when the target is missing
  uint64_t Size;
  int64_t WriteSeconds;
  uint32_t WriteNanoseconds;
  bool Compressed;
};

// Fills an item for a panel: name, size (0 for a directory, as the host on
// Windows reports one), last-write stamp, attributes; every other member 0.
// Returns false when the name does not fit cFileName (259 bytes at most).
bool FillPanelItem(std::string_view name, const EntryFacts& facts, PluginPanelItem& item);

// Gives out zeroed memory, and leaves a new item as the memory holds it: a
// panel made afresh is zero without a pass over it, and its pages are first
// touched by the threads that describe its entries.
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

// Lists a directory: every entry but "." and "..", sorted by name in byte
// order, not recursive. Entries that vanish meanwhile are left out silently;
// entries that cannot be described or named in the panel are left out with a
// warning on standard error and counted in `problems`. Returns false, with a
// one-line reason in `error`, when the directory cannot be read at all.
bool ListDirectory(const char* path, PanelItems& items, int& problems, std::string& error);

}  // namespace marlit::console
