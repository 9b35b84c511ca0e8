// One walk of a directory tree, for the console host's panel: the entries
// below a root, each described (type, size, last write), read by a few
// threads and handed back in a fixed order. The walk knows nothing of what is
// looked for; the caller answers for each directory whether to go into it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace marlit::console {

// What the walk learnt about one entry.
struct EntryFacts {
  uint32_t Mode;  // st_mode of the target, or of the link when the target is missing
  uint64_t Size;
  int64_t WriteSeconds;
  uint32_t WriteNanoseconds;
  bool Compressed;
};

enum class WalkAnswer { Continue, Prune, Stop };

enum WalkFlag : uint32_t {
  kWalkFollowLinks = 1u << 0,  // walk into symbolic links to directories
  kWalkSameDevice = 1u << 1,   // stay on the root's file system
};

// What became of an entry.
enum class EntryState : uint8_t {
  Vanished,    // gone before it was described: never visited
  Listed,      // described; not a directory, or one the walk did not go into
  Walked,      // a directory whose entries follow it
  Unreadable,  // a directory that could not be read; Error says why
  Loop,        // a directory already on its own path (through a link): not walked
  Failed,      // could not be described (no facts); Error says why
};

struct WalkEntry {
  std::string_view Name;  // zero-terminated
  EntryFacts Facts;
  uint32_t Depth;  // 1: an entry of the root
  EntryState State;
  int Error;  // errno for Unreadable and Failed
};

// Where the walk is, for a status line.
struct WalkProgress {
  uint64_t Directories;  // read so far
  uint64_t Entries;      // found so far
  uint64_t Milliseconds;
  std::string Directory;  // the one the calling thread read last, below the root
};

struct WalkArgs {
  const char* Root = ".";
  uint32_t MaxDepth = 0;             // entries at most this deep; 0: any depth
  uint32_t Flags = 0;                // WalkFlag bits
  size_t Threads = 0;                // 0: one per processor (eight at most)
  uint64_t MaxEntries = UINT64_MAX;  // more than this: the walk stops as TooLarge
  size_t MaxName = SIZE_MAX;         // a longer name fails with ENAMETOOLONG, and is not walked
  // Entries are listed with the type the directory gives and not described
  // (their facts are their type alone, as writable): DescribeNamed reads the
  // facts of those that turn out to be wanted. Only what the walk itself
  // needs is described: an entry of unknown type, the directories when the
  // walk follows links or stays on one device, and the links it follows.
  bool NamesOnly = false;
  // Asked, on any of the walk's threads, for each directory the walk would go
  // into: Prune lists it without its entries, Stop ends the walk. Null: go in.
  WalkAnswer (*Enter)(void* context, const WalkEntry& directory) = nullptr;
  // Called on the calling thread about ten times a second while the walk runs.
  void (*Progress)(void* context, const WalkProgress& progress) = nullptr;
  void* Context = nullptr;
};

enum class WalkStatus { Done, Stopped, RootFailed, TooLarge, OutOfMemory };

// The directories read, for VisitTree and LayOutTree.
struct WalkedTree {
  struct Directory;
  std::vector<std::unique_ptr<Directory>> Directories;  // the root's first
  uint64_t Entries = 0;   // entries VisitTree hands over with their facts
  uint64_t Warnings = 0;  // entries it hands over Unreadable, Loop or Failed
  size_t Threads = 1;     // the walk's threads
  WalkedTree();
  ~WalkedTree();
  WalkedTree(WalkedTree&&) noexcept;
  WalkedTree& operator=(WalkedTree&&) noexcept;
};

// Reads the tree below args.Root into `tree`. Entries that vanish meanwhile
// are left out; a directory that cannot be read is kept as an Unreadable
// entry and the walk goes on. Returns Done or Stopped; otherwise a one-line
// reason is in `error` (the root cannot be read, more entries than
// MaxEntries, or memory ran out).
WalkStatus WalkTree(const WalkArgs& args, WalkedTree& tree, std::string& error);

// Hands every visited entry of a walked tree to `visit` in tree order: a
// directory's entries in byte order of their names, each walked directory's
// contents right after the directory itself. Vanished entries are skipped, as
// are the contents of an unreadable directory. Prune skips the contents of the
// entry just visited; Stop ends the visit.
void VisitTree(const WalkedTree& tree, WalkAnswer (*visit)(void* context, const WalkEntry& entry),
               void* context);

// Hands every entry that VisitTree hands over with its facts to `place`,
// with its position in tree order (0 to Entries - 1) and the position of its
// directory's entry (UINT32_MAX for an entry of the root). Directories are
// shared among the walk's threads: `place` is called on several at once,
// never twice for one position.
void LayOutTree(const WalkedTree& tree,
                void (*place)(void* context, const WalkEntry& entry, uint32_t at, uint32_t parent),
                void* context);

// Describes the entries a NamesOnly walk left undescribed that `wanted` accepts (by
// name; asked on several threads at once) and hands each to `place`, with
// its position in tree order: Listed with its facts, Vanished when it is
// gone, Failed when it cannot be described, Unreadable when its directory
// cannot be opened again (Error says why in both). Each directory is opened
// again by its path below args.Root, with the walk's Follow flag.
void DescribeNamed(const WalkedTree& tree, const WalkArgs& args,
                   bool (*wanted)(void* context, std::string_view name),
                   void (*place)(void* context, const WalkEntry& entry, uint32_t at),
                   void* context);

}  // namespace marlit::console
