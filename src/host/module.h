// Module-wide state: what lives from loading the plug-in to unloading it.
// Written only by SetStartupInfo; read by every call into the host and by the
// settings store.
#pragma once

#include <cstddef>

#include "host/records.h"

namespace marlit {

constexpr size_t kKeyPathSize = 80;  // at most 79 characters
constexpr const char* kPluginKeyName = "\\Marlit";

// The copy of the host's service table.
extern PluginStartupInfo StartupInfo;

// The plug-in key path: the host's RootKey followed by "\Marlit". Empty when
// no key path was formed; the settings store then reads only defaults and
// writes nothing.
extern char PluginKeyPath[kKeyPathSize];

// Forms PluginKeyPath from the host's root key text. A root too long for the
// buffer (over 72 characters) is refused, not cut, so no value lands under a
// key that belongs to nobody; so is a missing root. Returns whether the path
// was formed.
bool FormPluginKeyPath(const char* rootKey);

}  // namespace marlit
