#include "console/session/session.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "console/cli/selection_io.h"
#include "console/session/wildcard.h"
#include "platform/text.h"

namespace marlit::console {

ConsoleSession* g_session = nullptr;

namespace {

// The host's panel sort modes; the console panel is sorted by name.
constexpr int kSortByName = 2;

// Fills the whole record as the file manager would for the active panel.
void DescribePanel(ConsoleSession& session, PanelInfo& info) {
  info = PanelInfo{};
  info.PanelType = 0;  // a file panel
  info.Plugin = 0;
  info.PanelRect = SmallRect{0, 1, 79, 23};
  PanelItems& items = session.Window->Items;
  info.PanelItems = items.data();
  info.ItemsNumber = static_cast<int>(items.size());
  // The file manager hands copies of the selected items. A panel that is
  // selected whole is handed itself, rather than a second panel of copies.
  const size_t marked = static_cast<size_t>(std::count_if(
      session.Selected.begin(), session.Selected.end(), [](uint8_t mark) { return mark != 0; }));
  session.Marked.clear();
  if (marked != 0 && marked < items.size()) {
    session.Marked.reserve(marked);
    for (size_t i = 0; i < items.size(); ++i) {
      if (session.Selected[i] != 0) session.Marked.push_back(items[i]);
    }
  }
  info.SelectedItems = marked == 0              ? nullptr
                       : marked == items.size() ? items.data()
                                                : session.Marked.data();
  info.SelectedItemsNumber = static_cast<int>(marked);
  info.CurrentItem = 0;
  info.TopPanelItem = 0;
  info.Visible = 1;
  info.Focus = 1;
  info.ViewMode = 2;
  CopyText(info.ColumnTypes, sizeof info.ColumnTypes, "N,S,D,T");
  CopyText(info.ColumnWidths, sizeof info.ColumnWidths, "0,10,0,0");
  // A directory too long for the record is left out rather than cut into
  // the name of another one.
  if (session.CurDir.size() < sizeof info.CurDir) {
    CopyText(info.CurDir, sizeof info.CurDir, session.CurDir);
  }
  info.ShortNames = 0;
  info.SortMode = kSortByName;
}

// The selection comes from the items of the record the plug-in hands back,
// matched by index with the host's own.
void SetSelection(ConsoleSession& session, const PanelInfo& info) {
  if (info.PanelItems == nullptr || info.ItemsNumber <= 0) return;
  PanelWindow& window = *session.Window;
  const size_t count = std::min(window.Items.size(), static_cast<size_t>(info.ItemsNumber));
  for (size_t i = 0; i < count; ++i) {
    const uint32_t flags = info.PanelItems[i].Flags;
    window.Items[i].Flags = flags;
    const bool gone = i < window.Gone.size() && window.Gone[i] != 0;
    session.Selected[i] = (flags & PPIF_SELECTED) != 0 && !gone ? 1 : 0;
  }
}

// Texts for ids the language file lacks: kept for as long as the plug-in may
// hold the pointer.
const char* MissingMessage(int id) {
  static std::map<int, std::string> texts;
  auto [it, added] = texts.try_emplace(id);
  if (added) it->second = "<message " + std::to_string(id) + ">";
  return it->second.c_str();
}

}  // namespace

void TakeSelection(ConsoleSession& session) {
  const PanelItems& items = session.Window->Items;
  session.Selected.assign(items.size(), 0);
  for (size_t i = 0; i < items.size(); ++i) {
    session.Selected[i] = (items[i].Flags & PPIF_SELECTED) != 0 ? 1 : 0;
  }
}

PluginStartupInfo MakeStartupInfo(const char* moduleName) {
  PluginStartupInfo info{};
  info.StructSize = static_cast<int>(sizeof info);
  CopyText(info.ModuleName, sizeof info.ModuleName, moduleName);
  info.ModuleNumber = kConsoleModuleNumber;
  info.RootKey = kConsoleRootKey;
  info.Dialog = ConsoleDialog;
  info.GetMsg = ConsoleGetMsg;
  info.Control = ConsoleControl;
  info.CmpName = ConsoleCmpName;
  return info;
}

int MARLIT_WINAPI ConsoleDialog(int pluginNumber, int x1, int y1, int x2, int y2,
                                const char* helpTopic, FarDialogItem* items, int itemsNumber) {
  static_cast<void>(pluginNumber);
  ConsoleSession* const session = g_session;
  if (session == nullptr || items == nullptr || itemsNumber <= 0) {
    std::fprintf(stderr, "marlit: the plug-in asked for a dialog without items\n");
    return -1;
  }
  DialogCall call;
  call.X1 = x1;
  call.Y1 = y1;
  call.X2 = x2;
  call.Y2 = y2;
  call.HelpTopic = helpTopic;
  call.Items = items;
  call.Count = itemsNumber;
  call.Round = session->DialogRounds++;
  call.HelpFile = session->HelpFile.c_str();
  call.HelpInCp866 = session->HelpInCp866;
  call.HistoryFile = session->HistoryFile.c_str();
  if (session->Confirmed.size() == static_cast<size_t>(itemsNumber)) {
    // The same dialog for the next window of the panel: the user answered it.
    std::copy(session->Confirmed.begin(), session->Confirmed.end(), items);
    return kConfirmButton;
  }
  const int button = session->Answer(*session->Options, call);
  if (button == kConfirmButton && itemsNumber == kSelectionDialogItems) {
    session->Confirmed.assign(items, items + itemsNumber);
    if (session->OnConfirm != nullptr) session->OnConfirm(*session);
  }
  return button;
}

const char* MARLIT_WINAPI ConsoleGetMsg(int pluginNumber, int msgId) {
  static_cast<void>(pluginNumber);
  ConsoleSession* const session = g_session;
  if (session != nullptr && session->Message != nullptr) {
    if (const char* text = session->Message(msgId)) return text;
  }
  return MissingMessage(msgId);
}

int MARLIT_WINAPI ConsoleControl(HANDLE plugin, int command, void* param) {
  ConsoleSession* const session = g_session;
  if (session == nullptr || plugin != INVALID_HANDLE_VALUE) return 0;
  switch (command) {
    case FCTL_GETPANELINFO:
      if (param == nullptr) return 0;
      DescribePanel(*session, *static_cast<PanelInfo*>(param));
      return 1;
    case FCTL_SETSELECTION:
      if (param == nullptr) return 0;
      SetSelection(*session, *static_cast<const PanelInfo*>(param));
      return 1;
    case FCTL_REDRAWPANEL: {
      ++session->Redraws;
      if (session->BeforeOutput != nullptr) session->BeforeOutput(*session);
      const ConsoleOptions& options = *session->Options;
      LocalZone own;
      if (session->Zone == nullptr) {
        own = OpenLocalZone(kSystemTime, options.LongFormat ? session->Window->Items.size() : 0);
      }
      session->Printed +=
          WriteSelection(session->Out, *session->Window, session->Selected, session->Shown, options,
                         session->Zone != nullptr ? *session->Zone : own);
      return 1;
    }
    default:
      return 0;
  }
}

}  // namespace marlit::console
