// Registry services: typed values under keys of the current user's hive.
// registry_win.cpp calls advapi32; registry_posix.cpp keeps the same keys and
// values in one text file in the registry export format.
#pragma once

#include <cstdint>

namespace marlit {

// A registry root key, as the Windows API numbers them.
using RegistryRoot = uintptr_t;
constexpr RegistryRoot kHkeyCurrentUser = 0x80000001;

}  // namespace marlit
