// A stand-in host for tests: the service table a module is handed, a
// scripted dialog that plays a list of user actions and records every dialog
// it was shown, a panel of made-up items with a log of the panel requests,
// and the registry of the build. The scenarios are written once; only loading
// the module and preparing the registry differ by platform (loader_posix.cpp,
// loader_win.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/records.h"

namespace marlit::testhost {

// One step the scripted user takes in a dialog.
enum class ActionKind {
  SetText,   // types Text into item Item
  SetState,  // gives item Item the state Value
  Toggle,    // flips a check box: 0 becomes 1, any other state 0
  Radio,     // chooses a radio button: the others of its group go off
  Close,     // ends the dialog with result Value (an item index, or -1)
};

struct DialogAction {
  ActionKind Kind;
  int Item;
  int Value;
  std::string Text;
};

DialogAction SetText(int item, std::string text);
DialogAction SetState(int item, int state);
DialogAction Toggle(int item);
DialogAction Radio(int item);
DialogAction Press(int item);  // a button closes the dialog with its index
DialogAction CloseWindow();    // closed without a button (Esc): -1

// An item as the host was shown it, copied out of the module's record.
struct ShownItem {
  int Type, X1, Y1, X2, Y2, Focus;
  int Selected;         // for items without DIF_HISTORY
  std::string History;  // for DIF_HISTORY items ("" for a null name)
  uint32_t Flags;
  int DefaultButton;
  std::string Data;
};

struct ShownDialog {
  int ModuleNumber, X1, Y1, X2, Y2;
  std::string HelpTopic;
  int ItemsNumber;
  std::vector<ShownItem> Items;
};

// How the host answers FCTL_GETPANELINFO.
enum class PanelReply {
  Fill,           // fills the record from the made-up panel, returns 1
  Fail,           // returns 0 and leaves the record alone
  LeaveUnfilled,  // returns 1 and leaves the record alone
};

struct ControlCall {
  intptr_t Handle;
  int Command;
  const void* Param;
  // For FCTL_SETSELECTION: the Flags of the items the record points to.
  std::vector<uint32_t> Flags;
};

struct HostState {
  int ModuleNumber = 17;
  std::string RootKey;
  std::vector<std::string> Messages;  // by id, from the English language file
  std::vector<int> MessageRequests;   // every id asked of GetMsg, in order
  std::vector<int> MessageModules;    // the module number of each request
  std::vector<DialogAction> Script;   // played in order across dialogs
  size_t NextAction = 0;
  bool ScriptRanOut = false;
  std::vector<ShownDialog> Dialogs;
  PanelReply Reply = PanelReply::Fill;
  int PanelType = 0;
  std::vector<PluginPanelItem> Items;  // the panel's items, changed in place
  const PanelInfo* FilledPanel = nullptr;
  std::vector<ControlCall> Calls;
  std::string LastPattern;  // the mask of the latest name matching
};

// The one host of a test process.
extern HostState Host;

// Empties the logs and the script, loads the messages from the language file
// at langPath (none for a null path) and sets the root key; returns false
// when the file cannot be read.
bool ResetHost(const char* langPath, std::string rootKey);

// A service table whose services are this host's, RootKey pointing into Host.
PluginStartupInfo MakeStartupInfo();

// The host's services, also for tests that call the dialog code directly.
const char* MARLIT_WINAPI HostGetMsg(int pluginNumber, int msgId);
int MARLIT_WINAPI HostDialog(int pluginNumber, int x1, int y1, int x2, int y2,
                             const char* helpTopic, FarDialogItem* items, int itemsNumber);
int MARLIT_WINAPI HostControl(HANDLE plugin, int command, void* param);
// Name matching by the tests' wildcard rules; keeps the pattern it was given.
int MARLIT_WINAPI HostCmpName(const char* pattern, const char* name, int skipPath);

// The module's entry points as the host calls them.
using SetStartupInfoEntry = void(MARLIT_WINAPI*)(const PluginStartupInfo* info);
using GetPluginInfoEntry = void(MARLIT_WINAPI*)(PluginInfo* info);
using OpenPluginEntry = HANDLE(MARLIT_WINAPI*)(int openFrom, int item);

struct Module {
  void* Handle = nullptr;
  SetStartupInfoEntry SetStartupInfo = nullptr;
  GetPluginInfoEntry GetPluginInfo = nullptr;
  OpenPluginEntry OpenPlugin = nullptr;
};

// Loads the module file and finds the three entry points by their plain
// names. On failure returns false with a reason in error.
bool LoadModule(const char* path, Module& module, std::string& error);
void UnloadModule(Module& module);

// Loads the module and hands it the host's service table, as the host does
// right after loading.
bool StartModule(const char* path, Module& module, std::string& error);

// What the platform gives for loading (dlopen or LoadLibrary): open a library
// (null with a reason in error), find a name in it (null when missing), close.
void* OpenLibrary(const char* path, std::string& error);
void* FindInLibrary(void* library, const char* name);
void CloseLibrary(void* library);

// The registry of the build. PrepareRegistry makes it ready for a test whose
// values live under rootKey; RemoveRegistryKey removes them afterwards.
void PrepareRegistry();
void RemoveRegistryKey(const std::string& rootKey);

// Watches the registry's storage for any access, reads included, where the
// platform can tell: BeginRegistryWatch returns false where it cannot, and
// EndRegistryWatch then yields -1; else the number of accesses seen.
bool BeginRegistryWatch();
int EndRegistryWatch();

}  // namespace marlit::testhost
