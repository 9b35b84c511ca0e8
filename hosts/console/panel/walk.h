// One walk of a directory tree, for the console host's panel: the entries
// below a root handed over one at a time in tree order (a directory's entries
// in byte order of their names, each walked directory's contents right after
// it), while a few threads read and describe the directories ahead of the
// caller by a bounded amount. What it holds is what the caller has not
// taken yet and the directories on the way down, so its memory does not grow
// with the tree. The walk knows nothing of what is looked for: the caller
// answers which directories to go into and which entries to describe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace marlit::console {

// What the walk learnt about one entry.
struct EntryFacts {
  uint32_t Mode;  // st_mode of the target, or of the link when the target is missing
  uint64_t Size;
  int64_t WriteSeconds;
  uint32_t WriteNanoseconds;
  bool Compressed;
};

enum class WalkAnswer { Continue, Prune };

enum WalkFlag : uint32_t {
  kWalkFollowLinks = 1u << 0,  // walk into symbolic links to directories
  kWalkSameDevice = 1u << 1,   // stay on the root's file system
};

// What became of an entry on the walk.
enum class EntryState : uint8_t {
  Vanished,    // gone before the walk could tell what it is: never handed over
  Listed,      // not a directory, or one the walk does not go into
  Walked,      // a directory whose entries follow it
  Unreadable,  // a directory that could not be read; Error says why
  Loop,        // a directory already on its own path (through a link): not walked
  Failed,      // could not be described although the walk needed it; Error says why
};

// What became of an entry the caller wanted described (see WalkArgs::Wanted).
enum class Description : uint8_t {
  TypeOnly,   // not described: its facts are its type alone, as writable
  Described,  // its facts are complete
  Gone,       // it vanished before it was described
  Denied,     // its directory may be read but not searched (Error is EACCES)
  LeftOut,    // it could not be described; Error says why
  Assumed,    // a directory wanted but taken as its type says (see WantDirectories)
};

struct WalkEntry {
  std::string_view Name;       // zero-terminated
  std::string_view Directory;  // where it lies below the root, '/'-ended ("" for the root's)
  EntryFacts Facts;
  uint32_t Depth;  // 1: an entry of the root
  EntryState State;
  Description Described;
  bool FirstOfDirectory;  // the first entry of its directory that is handed over
  int Error;
};

// Where the walk is, for a status line.
struct WalkProgress {
  uint64_t Directories;  // read so far
  uint64_t Entries;      // found so far
  uint64_t Milliseconds;
  std::string_view Directory;  // the one the caller takes entries from, below the root
};

struct WalkArgs {
  const char* Root = ".";
  uint32_t MaxDepth = 0;      // entries at most this deep; 0: any depth
  uint32_t Flags = 0;         // WalkFlag bits
  size_t Threads = 0;         // 0: one per processor (eight at most); the caller's counts
  size_t MaxName = SIZE_MAX;  // a longer name fails with ENAMETOOLONG, and is not walked
  // The threads read at most about this many entries ahead of the caller.
  size_t Ahead = size_t{1} << 14;
  // Asked, on any thread, for each directory the walk would go into: Prune
  // lists it without its entries. Null: go in.
  WalkAnswer (*Enter)(void* context, std::string_view name) = nullptr;
  // Asked, on any thread, for each entry the walk itself need not describe
  // (it describes only an entry of unknown type, the directories when it
  // follows links or stays on one device, and the links it follows): true
  // has it described. Null: none.
  bool (*Wanted)(void* context, std::string_view name) = nullptr;
  // Whether Wanted is asked about directories too: without it a directory is
  // described only when the walk needs it (its type already tells that it is
  // a directory, of size 0 in the panel).
  bool WantDirectories = true;
  // Called on the calling thread about ten times a second while it waits.
  void (*Progress)(void* context, const WalkProgress& progress) = nullptr;
  void* Context = nullptr;
};

struct Walk;
struct WalkCloser {
  void operator()(Walk* walk) const;
};
using WalkHandle = std::unique_ptr<Walk, WalkCloser>;

// Opens the root and reads its names; nothing else is read until the first
// NextEntry. Null, with a one-line reason in `error`, when the root cannot be
// opened or read. `args` must outlive the walk; Enter, Wanted and Context may
// still be set until the first NextEntry.
WalkHandle OpenWalk(const WalkArgs& args, std::string& error);

// The next entry in tree order; false after the last. Entries that vanish
// meanwhile are left out; a directory that cannot be read is handed over as
// Unreadable and its entries are not. The views in `entry` stay valid until
// ForgetHanded. Throws std::bad_alloc when memory runs out.
bool NextEntry(Walk& walk, WalkEntry& entry);

// Lets the walk free what it kept for the entries handed over so far.
void ForgetHanded(Walk& walk);

}  // namespace marlit::console
