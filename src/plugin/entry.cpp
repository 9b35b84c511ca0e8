// The module's three entry points, the only names it exports: the host calls
// SetStartupInfo once after loading, GetPluginInfo whenever it builds its
// menus, and OpenPlugin each time the user picks the plug-in's menu entry.
#include <cstring>
#include <string_view>

#include "dialog/dialog.h"
#include "engine/criteria.h"
#include "engine/selection.h"
#include "host/module.h"
#include "host/records.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings/settings.h"

namespace marlit {

namespace {

// The size of the 1.x host's PluginInfo record, which the host reads from
// StructSize whatever the native width of our own record.
constexpr int kPluginInfoStructSize = 40;

// A PanelType no host writes: a record the host leaves unfilled reads as
// "not a file panel".
constexpr int kPanelTypeUnknown = -1;

// The plug-ins menu entry; the host reads it through PluginMenuStrings.
const char* PluginMenuStrings[1];

std::string_view WholeText(const char (&text)[kDialogTextSize]) {
  return std::string_view(text, BoundedLength(text, sizeof text));
}

// The criteria of one confirmed dialog: the range fields from the whole
// criterion texts, the rest from the values read back.
void BuildCriteria(const DialogResult& dialog, SelectionCriteria& criteria) {
  ParseCriteria(WholeText(dialog.SizeText), WholeText(dialog.DateText), WholeText(dialog.TimeText),
                kSystemTime, criteria);
  CopyText(criteria.Mask, sizeof criteria.Mask, WholeText(dialog.Mask));
  const SettingsValues& values = dialog.Values;
  SplitAttributeBits(values.InAttr, criteria.InAttr);
  SplitAttributeBits(values.ExAttr, criteria.ExAttr);
  criteria.Mode = static_cast<SelectionAction>(values.Mode);
  criteria.ClearFirst = values.ClearFirst != 0;
}

// Loads the stored values, runs the dialog and saves what it confirmed, as
// one registry batch: the values are read once and saved together, and the
// store is left before the panel is touched, so a store that cannot be
// written still leaves the panel marked. False when the dialog was
// abandoned.
bool AskForCriteria(DialogResult& dialog) {
  BeginRegistryBatch();
  SettingsValues loaded{};
  LoadSettings(loaded);
  RunSelectionDialog(loaded, dialog);
  const bool confirmed = dialog.Outcome == DialogOutcome::Confirmed;
  // Saved before parsing: texts that do not parse are kept all the same.
  if (confirmed) SaveSettings(dialog.Values);
  EndRegistryBatch();
  return confirmed;
}

// The selection command. Stops without a further host call when the host
// cannot describe the active panel or it is no file panel, and when the
// dialog is abandoned.
void RunSelectionCommand() {
  PanelInfo panel{};
  panel.PanelType = kPanelTypeUnknown;
  if (StartupInfo.Control(INVALID_HANDLE_VALUE, FCTL_GETPANELINFO, &panel) == 0) return;
  if (panel.PanelType != 0) return;

  DialogResult dialog{};
  if (!AskForCriteria(dialog)) return;

  SelectionCriteria criteria{};
  BuildCriteria(dialog, criteria);
  SelectionPass(panel, criteria, StartupInfo.CmpName, kSystemTime);

  StartupInfo.Control(INVALID_HANDLE_VALUE, FCTL_SETSELECTION, &panel);
  StartupInfo.Control(INVALID_HANDLE_VALUE, FCTL_REDRAWPANEL, nullptr);
}

}  // namespace

}  // namespace marlit

extern "C" {

// Keeps the host's service table and forms the plug-in key path; nothing else
// happens at load.
MARLIT_EXPORT void MARLIT_WINAPI SetStartupInfo(const marlit::PluginStartupInfo* Info) {
  if (Info == nullptr) return;
  std::memcpy(&marlit::StartupInfo, Info, marlit::kStartupInfoCopySize);
  marlit::FormPluginKeyPath(Info->RootKey);
}

// Asks for one plug-ins menu entry and nothing else; the entry's text is
// fetched anew at every call. Members not listed keep what the host put there.
MARLIT_EXPORT void MARLIT_WINAPI GetPluginInfo(marlit::PluginInfo* Info) {
  if (Info == nullptr) return;
  marlit::PluginMenuStrings[0] = marlit::GetMessageText(marlit::kTitleMessage);
  Info->StructSize = marlit::kPluginInfoStructSize;
  Info->Flags = 0;
  Info->DiskMenuStringsNumber = 0;
  Info->PluginMenuStrings = marlit::PluginMenuStrings;
  Info->PluginMenuStringsNumber = 1;
  Info->PluginConfigStringsNumber = 0;
}

// Runs the whole selection command on the active panel. Never opens a panel
// of its own, whatever OpenFrom and Item say.
MARLIT_EXPORT marlit::HANDLE MARLIT_WINAPI OpenPlugin(int OpenFrom, int Item) {
  static_cast<void>(OpenFrom);
  static_cast<void>(Item);
  marlit::RunSelectionCommand();
  return marlit::INVALID_HANDLE_VALUE;
}

}  // extern "C"
