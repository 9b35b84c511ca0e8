// Registry services: typed values under keys of the current user's hive.
// registry_win.cpp calls advapi32; registry_posix.cpp keeps the same keys and
// values in one text file in the registry export format.
//
// Every operation stands alone: it opens what it needs, does one thing and
// closes again, unless it runs in a batch. Key and value names compare
// without regard to letter case, as Windows compares them.
#pragma once

#include <cstdint>
#include <string>

namespace marlit {

// A registry root key, as the Windows API numbers them.
using RegistryRoot = uintptr_t;
constexpr RegistryRoot kHkeyCurrentUser = 0x80000001;

// Value types, as the Windows API numbers them. Any other number is kept and
// handed back as it was written.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

// What became of one operation; the OS's own error codes are translated into
// these in one place per platform.
enum class RegistryResult {
  Ok,
  Missing,  // the key or the value is not there
  TooLong,  // the value does not fit the buffer
  Failed,   // anything else: no access, a broken store, a bad argument
};

// Reads value `name` ("" for the key's default value) of `key` under `root`
// into buffer, which holds *size bytes. On Ok *size is the stored size; on
// TooLong it is the size needed and the buffer's contents are undefined. The
// stored type goes to *type when type is not null. A null buffer asks for the
// size only.
RegistryResult ReadRegistryValue(RegistryRoot root, const char* key, const char* name, void* buffer,
                                 uint32_t* size, uint32_t* type);

// Writes value `name` of `key` under `root` as `type` with `size` bytes,
// creating the key when it is not there.
RegistryResult WriteRegistryValue(RegistryRoot root, const char* key, const char* name,
                                  uint32_t type, const void* bytes, uint32_t size);

// Where the values are kept, for messages: the store file as the operations
// above resolve it (empty when no place can be named), or "the registry"
// where the system has one.
std::string RegistryStoreLocation();

// Removes `key` with all its values and subkeys. The plug-in itself never
// removes anything; the tests clean up with it.
RegistryResult DeleteRegistryKey(RegistryRoot root, const char* key);

// A batch groups the operations of one command. In the file store of POSIX
// systems its reads share one reading of the file, and its writes, which read
// back at once, are put in place together, in one atomic replace, when the
// outermost batch ends (or when the module is unloaded or the process exits
// with one open): a process killed before loses all of them and never a part.
// Batches nest; an operation outside any is a batch of its own. The Windows
// registry needs none: both calls do nothing there. EndRegistryBatch returns
// Failed when the writes could not be put in place.
void BeginRegistryBatch();
RegistryResult EndRegistryBatch();

}  // namespace marlit
