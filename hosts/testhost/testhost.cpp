// The test host's services and scripted user, shared by both platforms.
#include "testhost/testhost.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/lang_file.h"
#include "support/wildcard.h"

namespace marlit::testhost {

HostState Host;

namespace {

// The messages of the language file at path, by id.
bool LoadMessages(const char* path, std::vector<std::string>& messages) {
  LangFile file = LoadLangFile(path);
  if (!file.Error.empty()) return false;
  messages = std::move(file.Messages);
  return true;
}

// Writes text into an item's Data the way a host's edit control does: never
// more than the buffer holds.
void WriteItemText(FarDialogItem& item, const std::string& text) {
  const size_t length = std::min(text.size(), sizeof item.Data - 1);
  std::memcpy(item.Data, text.data(), length);
  item.Data[length] = '\0';
}

ShownItem CopyItem(const FarDialogItem& item) {
  ShownItem shown{};
  shown.Type = item.Type;
  shown.X1 = item.X1;
  shown.Y1 = item.Y1;
  shown.X2 = item.X2;
  shown.Y2 = item.Y2;
  shown.Focus = item.Focus;
  shown.Flags = item.Flags;
  if ((shown.Flags & DIF_HISTORY) != 0) {
    const char* history = item.History;
    if (history != nullptr) shown.History = history;
  } else {
    shown.Selected = item.Selected;
  }
  shown.DefaultButton = item.DefaultButton;
  shown.Data.assign(item.Data, strnlen(item.Data, sizeof item.Data));
  return shown;
}

// A radio button switches the others of its group off: the run of radio
// buttons around it.
void ChooseRadio(FarDialogItem* items, int count, int index) {
  int first = index;
  while (first > 0 && items[first - 1].Type == DI_RADIOBUTTON) --first;
  for (int i = first; i < count && items[i].Type == DI_RADIOBUTTON; ++i) {
    items[i].Selected = i == index ? 1 : 0;
  }
}

}  // namespace

DialogAction SetText(int item, std::string text) {
  return DialogAction{ActionKind::SetText, item, 0, std::move(text)};
}
DialogAction SetState(int item, int state) {
  return DialogAction{ActionKind::SetState, item, state, ""};
}
DialogAction Toggle(int item) { return DialogAction{ActionKind::Toggle, item, 0, ""}; }
DialogAction Radio(int item) { return DialogAction{ActionKind::Radio, item, 0, ""}; }
DialogAction Press(int item) { return DialogAction{ActionKind::Close, item, item, ""}; }
DialogAction CloseWindow() { return DialogAction{ActionKind::Close, -1, -1, ""}; }

bool ResetHost(const char* langPath, std::string rootKey) {
  Host = HostState{};
  Host.RootKey = std::move(rootKey);
  return langPath == nullptr || LoadMessages(langPath, Host.Messages);
}

PluginStartupInfo MakeStartupInfo() {
  PluginStartupInfo info{};
  info.StructSize = static_cast<int>(sizeof info);
  std::strncpy(info.ModuleName, "marlit", sizeof info.ModuleName - 1);
  info.ModuleNumber = Host.ModuleNumber;
  info.RootKey = Host.RootKey.c_str();
  info.Dialog = HostDialog;
  info.GetMsg = HostGetMsg;
  info.Control = HostControl;
  info.CmpName = HostCmpName;
  return info;
}

const char* MARLIT_WINAPI HostGetMsg(int pluginNumber, int msgId) {
  Host.MessageRequests.push_back(msgId);
  Host.MessageModules.push_back(pluginNumber);
  if (msgId < 0 || static_cast<size_t>(msgId) >= Host.Messages.size()) return nullptr;
  return Host.Messages[static_cast<size_t>(msgId)].c_str();
}

int MARLIT_WINAPI HostDialog(int pluginNumber, int x1, int y1, int x2, int y2,
                             const char* helpTopic, FarDialogItem* items, int itemsNumber) {
  ShownDialog shown{pluginNumber, x1, y1, x2, y2, helpTopic != nullptr ? helpTopic : "",
                    itemsNumber,  {}};
  for (int i = 0; i < itemsNumber; ++i) shown.Items.push_back(CopyItem(items[i]));
  Host.Dialogs.push_back(std::move(shown));

  while (Host.NextAction < Host.Script.size()) {
    const DialogAction& action = Host.Script[Host.NextAction++];
    if (action.Kind == ActionKind::Close) return action.Value;
    if (action.Item < 0 || action.Item >= itemsNumber) continue;
    FarDialogItem& item = items[action.Item];
    switch (action.Kind) {
      case ActionKind::SetText:
        WriteItemText(item, action.Text);
        break;
      case ActionKind::SetState:
        item.Selected = action.Value;
        break;
      case ActionKind::Toggle:
        item.Selected = item.Selected == 0 ? 1 : 0;
        break;
      case ActionKind::Radio:
        ChooseRadio(items, itemsNumber, action.Item);
        break;
      case ActionKind::Close:
        break;
    }
  }
  Host.ScriptRanOut = true;
  return -1;
}

int MARLIT_WINAPI HostControl(HANDLE plugin, int command, void* param) {
  ControlCall call{reinterpret_cast<intptr_t>(plugin), command, param, {}};
  int result = 1;
  if (command == FCTL_GETPANELINFO && param != nullptr) {
    auto* panel = static_cast<PanelInfo*>(param);
    Host.FilledPanel = panel;
    if (Host.Reply == PanelReply::Fail) {
      result = 0;
    } else if (Host.Reply == PanelReply::Fill) {
      PanelInfo filled{};
      filled.PanelType = Host.PanelType;
      filled.PanelItems = Host.Items.data();
      filled.ItemsNumber = static_cast<int>(Host.Items.size());
      filled.Visible = 1;
      filled.Focus = 1;
      std::strncpy(filled.CurDir, "C:\\panel", sizeof filled.CurDir - 1);
      *panel = filled;
    }
  } else if (command == FCTL_SETSELECTION && param != nullptr) {
    const auto* panel = static_cast<const PanelInfo*>(param);
    for (int i = 0; i < panel->ItemsNumber; ++i) {
      const uint32_t flags = panel->PanelItems[i].Flags;  // a packed member: copied
      call.Flags.push_back(flags);
    }
  }
  Host.Calls.push_back(std::move(call));
  return result;
}

int MARLIT_WINAPI HostCmpName(const char* pattern, const char* name, int skipPath) {
  Host.LastPattern = pattern != nullptr ? pattern : "";
  return test::TestCmpName(pattern, name, skipPath);
}

bool LoadModule(const char* path, Module& module, std::string& error) {
  module = Module{};
  module.Handle = OpenLibrary(path, error);
  if (module.Handle == nullptr) return false;
  module.SetStartupInfo =
      reinterpret_cast<SetStartupInfoEntry>(FindInLibrary(module.Handle, "SetStartupInfo"));
  module.GetPluginInfo =
      reinterpret_cast<GetPluginInfoEntry>(FindInLibrary(module.Handle, "GetPluginInfo"));
  module.OpenPlugin = reinterpret_cast<OpenPluginEntry>(FindInLibrary(module.Handle, "OpenPlugin"));
  if (module.SetStartupInfo == nullptr || module.GetPluginInfo == nullptr ||
      module.OpenPlugin == nullptr) {
    error = "an entry point is missing";
    UnloadModule(module);
    return false;
  }
  return true;
}

void UnloadModule(Module& module) {
  if (module.Handle != nullptr) CloseLibrary(module.Handle);
  module = Module{};
}

bool StartModule(const char* path, Module& module, std::string& error) {
  if (!LoadModule(path, module, error)) return false;
  const PluginStartupInfo startup = MakeStartupInfo();
  module.SetStartupInfo(&startup);
  return true;
}

}  // namespace marlit::testhost
