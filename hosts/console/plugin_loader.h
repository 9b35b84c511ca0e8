// Loading the plug-in module and finding its three entry points by name.
#pragma once

#include <string>

#include "host/records.h"

namespace marlit::console {

using SetStartupInfoEntry = void(MARLIT_WINAPI*)(const PluginStartupInfo* info);
using GetPluginInfoEntry = void(MARLIT_WINAPI*)(PluginInfo* info);
using OpenPluginEntry = HANDLE(MARLIT_WINAPI*)(int openFrom, int item);

struct PluginEntries {
  SetStartupInfoEntry SetStartupInfo;
  GetPluginInfoEntry GetPluginInfo;
  OpenPluginEntry OpenPlugin;
};

// The folder of the running program, without a final '/'; empty when unknown.
std::string ProgramDirectory();

// Loads the module at `path` for the life of the process and finds
// SetStartupInfo, GetPluginInfo and OpenPlugin. Returns false with a one-line
// reason in `error`.
bool LoadPlugin(const std::string& path, PluginEntries& entries, std::string& error);

}  // namespace marlit::console
