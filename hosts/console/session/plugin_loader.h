// Loading the plug-in module and finding its three entry points by name, and
// loading the terminal dialog's module.
#pragma once

#include <string>

#include "console/dialog/tty.h"
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

// The modules the program loads: the plug-in, and the terminal dialog (-i).
constexpr const char* kPluginModule = "marlit.so";
constexpr const char* kTerminalDialogModule = "marlit-tty.so";

// The folder of the running program, without a final '/'; empty when unknown.
std::string ProgramDirectory();

// Loads the module at `path` for the life of the process and finds
// SetStartupInfo, GetPluginInfo and OpenPlugin. Returns false with a one-line
// reason in `error`.
bool LoadPlugin(const std::string& path, PluginEntries& entries, std::string& error);

// Loads the terminal dialog's module at `path` for the life of the process.
// Returns false with a one-line reason in `error`.
bool LoadTerminalDialog(const std::string& path, TerminalDialogEntries& entries,
                        std::string& error);

}  // namespace marlit::console
