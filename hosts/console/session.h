// One run of the console host: the panel it shows the plug-in, the host's own
// selection, and the four services of the service table that the plug-in
// calls (Dialog, GetMsg, Control, CmpName).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "console/dialog/answer.h"
#include "console/listing.h"
#include "console/options.h"
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
  PanelItems Items;                     // the panel, lent to the plug-in
  PathTable Parents;                    // where each item lies (empty: all in CurDir)
  std::string Shown;                    // what each printed path begins with
  std::vector<uint8_t> Selected;        // the host's marks, one per item
  std::vector<uint8_t> Gone;            // items found gone since the listing (empty: none);
                                        // never printed as selected
  std::vector<PluginPanelItem> Marked;  // copies of the marked items, for PanelInfo,
                                        // unless all are marked
  // The selection dialog's items as they were confirmed; empty until then.
  std::vector<FarDialogItem> Confirmed;
  // Called when the selection dialog is confirmed, before the plug-in acts:
  // the panel may still be completed then.
  void (*OnConfirm)(ConsoleSession& session) = nullptr;
  int DialogRounds = 0;
  int Redraws = 0;
  size_t LastDrawnCount = 0;  // names printed by the last redraw
  std::FILE* Out = stdout;
};

// The session the services act on; set by the host before it calls the
// plug-in, and in tests.
extern ConsoleSession* g_session;

// Takes the items' PPIF_SELECTED bits as the host's selection.
void TakeSelection(ConsoleSession& session);

// Copies the marked items again into the copies handed out as SelectedItems,
// in place, after the items were completed.
void RefreshMarkedCopies(ConsoleSession& session);

// The service table for a module at `moduleName`: every service the plug-in
// may call, the others null.
PluginStartupInfo MakeStartupInfo(const char* moduleName);

// The services themselves.
int MARLIT_WINAPI ConsoleDialog(int pluginNumber, int x1, int y1, int x2, int y2,
                                const char* helpTopic, FarDialogItem* items, int itemsNumber);
const char* MARLIT_WINAPI ConsoleGetMsg(int pluginNumber, int msgId);
int MARLIT_WINAPI ConsoleControl(HANDLE plugin, int command, void* param);

}  // namespace marlit::console
