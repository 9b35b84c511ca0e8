// One run of the console host: the panel it shows the plug-in, the host's own
// selection, and the four services of the service table that the plug-in
// calls (Dialog, GetMsg, Control, CmpName).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "console/cli/options.h"
#include "console/dialog/answer.h"
#include "console/panel/listing.h"
#include "engine/local_time.h"
#include "host/records.h"

namespace marlit::console {

// The root key the console host hands the plug-in; its settings land under
// "<RootKey>\Marlit".
constexpr const char* kConsoleRootKey = "Software\\marlit-console\\Plugins";
constexpr int kConsoleModuleNumber = 0;

// A message text by id, or null when the language file has none.
using MessageLookup = const char* (*)(int id);

struct ConsoleSession {
  const ConsoleOptions* Options = nullptr;
  DialogAnswerer Answer = AnswerCallFromCommandLine;
  MessageLookup Message = nullptr;
  std::string HelpFile;  // handed to the answerer with every Dialog call
  bool HelpInCp866 = false;
  std::string HistoryFile;              // likewise
  std::string CurDir;                   // the listed directory, absolute
  PanelWindow* Window = nullptr;        // the panel's window, lent to the plug-in
  std::string Shown;                    // what each printed path begins with
  std::vector<uint8_t> Selected;        // the host's marks, one per item of the window
  std::vector<PluginPanelItem> Marked;  // copies of the marked items, for PanelInfo,
                                        // unless all are marked
  // The selection dialog's items as they were confirmed; empty until then.
  // Every later call of the dialog (for the windows after the first) is
  // answered with them.
  std::vector<FarDialogItem> Confirmed;
  // Called when the selection dialog is confirmed, before the plug-in acts.
  void (*OnConfirm)(ConsoleSession& session) = nullptr;
  // Called before the window's selection is printed.
  void (*BeforeOutput)(ConsoleSession& session) = nullptr;
  int DialogRounds = 0;
  int Redraws = 0;
  size_t Printed = 0;  // paths printed by all redraws
  std::FILE* Out = stdout;
  LocalZone* Zone = nullptr;  // for -l; null: one for each redraw
};

// The session the services act on; set by the host before it calls the
// plug-in, and in tests.
extern ConsoleSession* g_session;

// Takes the window's PPIF_SELECTED bits as the host's selection.
void TakeSelection(ConsoleSession& session);

// The service table for a module at `moduleName`: every service the plug-in
// may call, the others null.
PluginStartupInfo MakeStartupInfo(const char* moduleName);

// The services themselves.
int MARLIT_WINAPI ConsoleDialog(int pluginNumber, int x1, int y1, int x2, int y2,
                                const char* helpTopic, FarDialogItem* items, int itemsNumber);
const char* MARLIT_WINAPI ConsoleGetMsg(int pluginNumber, int msgId);
int MARLIT_WINAPI ConsoleControl(HANDLE plugin, int command, void* param);

}  // namespace marlit::console
