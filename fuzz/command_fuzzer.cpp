// The whole selection command through the module's three entry points, as a
// host calls them, with everything the outside world gives it fuzzed: the
// root key, the stored values (any type, any length, texts without their
// terminator), the panel (attributes, sizes, time stamps, names of any bytes
// terminated within their 260 bytes), the panel request's result and the
// panel type, the message texts, and every dialog the user sees (edit texts
// of any bytes up to 511, check and radio states, the closing index,
// resets). The host's services check what the module hands them; after the
// run the target checks that only the items' Flags changed, that the calls
// came in the command's order, and that the store holds exactly the
// confirmed values, or what it held before when nothing was confirmed.
//
// Input, read from the front (numbers little-endian, zero once it runs out):
//   u8 mode: bit 0 write stored values first; bits 1-2 the panel reply;
//     bits 3-4 the message texts; bit 5 a fuzzed root key
//   u8 panel type selector (0..0xef: a file panel), u32 type otherwise
//   [root key: u8 length, bytes]
//   [stored values: per name u8 type selector (0: absent), u16 length, bytes]
//   u8 item count (mod 9), per item: u32 attributes, u64 creation, access and
//     write times, u32 size high, u32 size low, u32 flags, u16 name length
//     (mod 260), name bytes
//   per dialog shown: u8 action count (mod 9), per action u8 item (mod 33)
//     then u16 length and text bytes for an edit item or u32 state for a
//     check box or radio button; u8 closing selector (mod 5: confirm, reset,
//     cancel, closed, u32 index)
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "console/session/wildcard.h"
#include "dialog/dialog.h"
#include "engine/mask_list.h"
#include "fuzz_support.h"
#include "host/module.h"
#include "host/records.h"
#include "settings/settings.h"

extern "C" {
void SetStartupInfo(const marlit::PluginStartupInfo* Info);
void GetPluginInfo(marlit::PluginInfo* Info);
marlit::HANDLE OpenPlugin(int OpenFrom, int Item);
}

namespace {

using namespace marlit;
using fuzz::InputReader;
using fuzz::Require;

constexpr const char* kRoot = "Software\\Far\\Plugins";
constexpr const char* kValueNames[] = {"ClearFirst", "Mode", "InAttr", "ExAttr",
                                       "Mask",       "Date", "Time",   "Size"};
constexpr int kModuleNumber = 7;
constexpr int kMaxItems = 8;
constexpr int kMaxDialogs = 12;  // then the user cancels
constexpr uint32_t kMaxStoredLength = 600;

enum class PanelReply { Fill, FillButFail, Fail, LeaveUnfilled };
enum class MessageTexts { Short, Missing, Long, Empty };

struct Run {
  InputReader In{nullptr, 0};
  PanelReply Reply = PanelReply::Fill;
  MessageTexts Messages = MessageTexts::Short;
  int PanelType = 0;
  std::vector<PluginPanelItem> Items;
  const PanelInfo* Panel = nullptr;
  std::vector<int> Commands;
  int Dialogs = 0;
  bool Confirmed = false;
  FarDialogItem Final[kDialogItemCount] = {};
};

Run* g_run = nullptr;
std::string g_store;

constexpr int kMessageCount = 26;

// The message texts of each kind, made once: the host keeps its texts while
// the plug-in is loaded. Missing ones are null.
const std::vector<std::string>& MessageTable(MessageTexts kind) {
  static const std::vector<std::string> tables[] = {
      [] {
        std::vector<std::string> texts;
        for (int id = 0; id < kMessageCount; ++id) texts.push_back("Message " + std::to_string(id));
        return texts;
      }(),
      {},
      [] {
        std::vector<std::string> texts;
        for (int id = 0; id < kMessageCount; ++id) {
          texts.push_back(std::string(700, static_cast<char>('A' + id)));
        }
        return texts;
      }(),
      std::vector<std::string>(kMessageCount),
  };
  return tables[static_cast<int>(kind)];
}

const char* MessageText(int id) {
  const std::vector<std::string>& table = MessageTable(g_run->Messages);
  return table.empty() ? nullptr : table[static_cast<size_t>(id)].c_str();
}

const char* MARLIT_WINAPI FuzzGetMsg(int pluginNumber, int msgId) {
  Require(pluginNumber == kModuleNumber, "GetMsg gets the module number");
  Require(msgId >= 0 && msgId < kMessageCount, "GetMsg asks for a message of the plug-in");
  return MessageText(msgId);
}

bool Terminated(const char* text, size_t capacity) {
  return std::memchr(text, 0, capacity) != nullptr;
}

// Plays the user: a few changes to the edit texts and the states, then a close.
int MARLIT_WINAPI FuzzDialog(int pluginNumber, int x1, int y1, int x2, int y2,
                             const char* helpTopic, FarDialogItem* items, int itemsNumber) {
  Run& run = *g_run;
  Require(run.Panel != nullptr && run.Panel->PanelType == 0, "the dialog follows a file panel");
  Require(pluginNumber == kModuleNumber && x1 == -1 && y1 == -1 && x2 == 70 && y2 == 20,
          "the dialog is centred, 70 by 20");
  Require(helpTopic != nullptr && std::string_view(helpTopic) == "Contents", "help topic");
  Require(items != nullptr && itemsNumber == kDialogItemCount, "33 items");
  for (int i = 0; i < itemsNumber; ++i) {
    Require(Terminated(items[i].Data, sizeof items[i].Data), "every item text is terminated");
    if ((items[i].Flags & DIF_HISTORY) != 0) {
      Require(items[i].History != nullptr && Terminated(items[i].History, 16), "history name");
    }
  }
  if (++run.Dialogs > kMaxDialogs) return kCancelItem;

  const uint32_t actions = run.In.Number(1) % 9;
  for (uint32_t a = 0; a < actions; ++a) {
    FarDialogItem& item = items[run.In.Number(1) % kDialogItemCount];
    if (item.Type == DI_EDIT) {
      const std::string_view text = run.In.Bytes(run.In.Number(2) % kDialogTextSize);
      std::memcpy(item.Data, text.data(), text.size());
      item.Data[text.size()] = '\0';
    } else if (item.Type == DI_CHECKBOX || item.Type == DI_RADIOBUTTON) {
      item.Selected = static_cast<int>(run.In.Number(4));
    }
  }
  int closedBy = kConfirmItem;
  switch (run.In.Number(1) % 5) {
    case 1:
      closedBy = kResetItem;
      break;
    case 2:
      closedBy = kCancelItem;
      break;
    case 3:
      closedBy = -1;
      break;
    case 4:
      closedBy = static_cast<int>(run.In.Number(4));
      break;
    default:
      break;
  }
  if (closedBy == kConfirmItem) {
    run.Confirmed = true;
    std::memcpy(run.Final, items, sizeof run.Final);
  }
  return closedBy;
}

int MARLIT_WINAPI FuzzControl(HANDLE plugin, int command, void* param) {
  Run& run = *g_run;
  Require(plugin == INVALID_HANDLE_VALUE, "Control on the active panel");
  run.Commands.push_back(command);
  if (command == FCTL_GETPANELINFO) {
    Require(param != nullptr && run.Commands.size() == 1, "the panel is asked for first");
    auto* panel = static_cast<PanelInfo*>(param);
    run.Panel = panel;
    if (run.Reply == PanelReply::Fill || run.Reply == PanelReply::FillButFail) {
      PanelInfo filled{};
      filled.PanelType = run.PanelType;
      filled.PanelItems = run.Items.data();
      filled.ItemsNumber = static_cast<int>(run.Items.size());
      *panel = filled;
    }
    return run.Reply == PanelReply::Fill || run.Reply == PanelReply::LeaveUnfilled ? 1 : 0;
  }
  if (command == FCTL_SETSELECTION) {
    Require(param == run.Panel && run.Panel->PanelItems == run.Items.data() &&
                run.Panel->ItemsNumber == static_cast<int>(run.Items.size()),
            "the selection comes back in the same record");
    return 1;
  }
  Require(command == FCTL_REDRAWPANEL && param == nullptr, "only the three panel commands");
  return 1;
}

int MARLIT_WINAPI FuzzCmpName(const char* pattern, const char* name, int skipPath) {
  Run& run = *g_run;
  Require(pattern != nullptr && Terminated(pattern, kDialogTextSize), "the mask fits 512 bytes");
  Require(skipPath == 1, "names are matched without their directory part");
  Require(!run.Items.empty(), "names are matched only on a panel with items");
  const auto first = reinterpret_cast<uintptr_t>(run.Items.front().FindData.cFileName);
  const auto at = reinterpret_cast<uintptr_t>(name);
  Require(at >= first && (at - first) % sizeof(PluginPanelItem) == 0 &&
              (at - first) / sizeof(PluginPanelItem) < run.Items.size(),
          "CmpName is handed an item's own name");
  // The mask is the dialog's text: whole, or one pattern of its list.
  const FarDialogItem& mask = run.Final[kMaskItem];
  MaskList list{};
  ReadMaskList(std::string_view(mask.Data, strnlen(mask.Data, sizeof mask.Data)), list);
  bool ofTheMask = false;
  for (int i = 0; i < list.PatternCount && !ofTheMask; ++i) {
    ofTheMask = MaskPattern(list, i) == pattern;
  }
  Require(ofTheMask, "a pattern of the confirmed mask");
  return console::ConsoleCmpName(pattern, name, skipPath);
}

void ReadPanel(Run& run) {
  const uint32_t count = run.In.Number(1) % (kMaxItems + 1);
  run.Items.assign(count, PluginPanelItem{});
  for (PluginPanelItem& item : run.Items) {
    HostFindData& data = item.FindData;
    std::memset(data.cFileName, 0xAA, sizeof data.cFileName);
    data.dwFileAttributes = run.In.Number(4);
    for (FILETIME* time : {&data.ftCreationTime, &data.ftLastAccessTime, &data.ftLastWriteTime}) {
      FILETIME stamp{};
      stamp.dwLowDateTime = run.In.Number(4);
      stamp.dwHighDateTime = run.In.Number(4);
      *time = stamp;
    }
    data.nFileSizeHigh = run.In.Number(4);
    data.nFileSizeLow = run.In.Number(4);
    item.Flags = run.In.Number(4);
    const std::string_view name = run.In.Bytes(run.In.Number(2) % kMaxPath);
    std::memcpy(data.cFileName, name.data(), name.size());
    data.cFileName[name.size()] = '\0';
  }
}

void WriteStoredValues(InputReader& in, const char* key) {
  unlink(g_store.c_str());
  for (const char* name : kValueNames) {
    const uint32_t selector = in.Number(1) % 5;
    if (selector == 0) continue;
    const uint32_t types[] = {0, kRegDword, kRegSz, kRegBinary};
    const uint32_t type = selector < 4 ? types[selector] : in.Number(4);
    const std::string_view bytes = in.Bytes(in.Number(2) % (kMaxStoredLength + 1));
    WriteRegistryValue(kHkeyCurrentUser, key, name, type, bytes.data(),
                       static_cast<uint32_t>(bytes.size()));
  }
}

std::string StoreBytes() {
  std::string bytes;
  if (!fuzz::ReadWholeFile(g_store, bytes)) return "(none)";
  return bytes;
}

// The values a confirmed dialog's items give, as loading reads them back.
SettingsValues ExpectedValues(const FarDialogItem (&items)[kDialogItemCount]) {
  SettingsValues values{};
  values.ClearFirst = static_cast<uint32_t>(items[kClearFirstItem].Selected);
  values.Mode = items[kSelectItem].Selected != 0 ? 0 : items[kDeselectItem].Selected != 0 ? 1 : 2;
  for (int bit = 0; bit < 6; ++bit) {
    if (items[kFirstIncludeItem + bit].Selected != 0) values.InAttr |= 1u << bit;
    if (items[kFirstExcludeItem + bit].Selected != 0) values.ExAttr |= 1u << bit;
  }
  const auto copy = [](char* to, size_t capacity, const FarDialogItem& item) {
    const size_t length = std::min(strnlen(item.Data, sizeof item.Data), capacity - 1);
    std::memcpy(to, item.Data, length);
  };
  copy(values.Mask, sizeof values.Mask, items[kMaskItem]);
  copy(values.Date, sizeof values.Date, items[kDateItem]);
  copy(values.Time, sizeof values.Time, items[kTimeItem]);
  copy(values.Size, sizeof values.Size, items[kSizeItem]);
  return values;
}

void CheckGetPluginInfo() {
  PluginInfo info;
  std::memset(&info, 0xA5, sizeof info);
  const PluginInfo before = info;
  GetPluginInfo(&info);
  Require(info.StructSize == 40 && info.Flags == 0 && info.DiskMenuStringsNumber == 0 &&
              info.PluginMenuStringsNumber == 1 && info.PluginConfigStringsNumber == 0,
          "GetPluginInfo fills its members");
  Require(info.DiskMenuStrings == before.DiskMenuStrings &&
              info.DiskMenuNumbers == before.DiskMenuNumbers &&
              info.PluginConfigStrings == before.PluginConfigStrings &&
              info.CommandPrefix == before.CommandPrefix,
          "GetPluginInfo leaves the other members alone");
  const char* title = MessageText(kTitleMessage);
  Require(info.PluginMenuStrings != nullptr && info.PluginMenuStrings[0] != nullptr &&
              std::string_view(info.PluginMenuStrings[0]) == (title != nullptr ? title : ""),
          "the menu entry is message 3");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_store = fuzz::ScratchFolder() + "/registry.reg";
  setenv("MARLIT_REGISTRY", g_store.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Run run;
  run.In = InputReader{data, size};
  g_run = &run;
  const uint32_t mode = run.In.Number(1);
  run.Reply = static_cast<PanelReply>(mode >> 1 & 3);
  run.Messages = static_cast<MessageTexts>(mode >> 3 & 3);
  run.PanelType = run.In.Number(1) < 0xf0 ? 0 : static_cast<int>(run.In.Number(4));

  std::string root = kRoot;
  if ((mode & 0x20) != 0) {
    const std::string_view text = run.In.Bytes(run.In.Number(1));
    root.assign(text.substr(0, text.find('\0')));
  }
  PluginStartupInfo startup{};
  startup.StructSize = sizeof startup;
  startup.ModuleNumber = kModuleNumber;
  startup.RootKey = root.c_str();
  startup.Dialog = FuzzDialog;
  startup.GetMsg = FuzzGetMsg;
  startup.Control = FuzzControl;
  startup.CmpName = FuzzCmpName;
  SetStartupInfo(&startup);
  const bool keyFormed = PluginKeyPath[0] != '\0';
  Require(keyFormed == (root.size() <= 72), "a root key up to 72 characters forms the key path");
  // The store takes no key with a control byte in its name.
  bool storable = keyFormed;
  for (const char c : root) storable = storable && static_cast<unsigned char>(c) >= 0x20;

  const std::string key = std::string(kRoot) + "\\Marlit";
  if ((mode & 1) != 0) WriteStoredValues(run.In, key.c_str());
  ReadPanel(run);
  CheckGetPluginInfo();

  const std::vector<PluginPanelItem> before = run.Items;
  const std::string storeBefore = StoreBytes();
  const HANDLE result = OpenPlugin(static_cast<int>(mode), static_cast<int>(size));
  Require(result == INVALID_HANDLE_VALUE, "OpenPlugin opens no panel");

  Require((run.Dialogs > 0) == (run.Reply == PanelReply::Fill && run.PanelType == 0),
          "the dialog is shown exactly for a file panel the host described");
  for (size_t i = 0; i < run.Items.size(); ++i) {
    PluginPanelItem was = before[i];
    PluginPanelItem now = run.Items[i];
    const uint32_t flagsWas = was.Flags;
    const uint32_t flagsNow = now.Flags;
    was.Flags = now.Flags = 0;
    Require(std::memcmp(&was, &now, sizeof was) == 0, "nothing but Flags changes");
    if (!run.Confirmed) {
      Require(flagsWas == flagsNow, "no flag changes without a confirmed dialog");
      continue;
    }
    // An item that fails keeps its flags (after clear-first: 0); one that
    // passes is marked by the action.
    const uint32_t start = run.Final[kClearFirstItem].Selected != 0 ? 0 : flagsWas;
    const uint32_t marked = ExpectedValues(run.Final).Mode == 0   ? start | PPIF_SELECTED
                            : ExpectedValues(run.Final).Mode == 1 ? 0
                                                                  : start ^ PPIF_SELECTED;
    Require(flagsNow == start || flagsNow == marked, "the action alone changes the flags");
  }
  if (!run.Confirmed) {
    Require(run.Commands.size() == 1 && run.Commands[0] == FCTL_GETPANELINFO,
            "an abandoned run makes no further panel call");
    Require(StoreBytes() == storeBefore, "an abandoned run leaves the store as it was");
    return 0;
  }
  Require(run.Commands == std::vector<int>{FCTL_GETPANELINFO, FCTL_SETSELECTION, FCTL_REDRAWPANEL},
          "a confirmed run hands the selection back and redraws");
  if (storable) {
    SettingsValues stored{};
    LoadSettings(stored);
    const SettingsValues expected = ExpectedValues(run.Final);
    Require(std::memcmp(&stored, &expected, sizeof stored) == 0,
            "the store holds the confirmed values");
  } else {
    Require(StoreBytes() == storeBefore, "without a usable key path nothing is written");
  }
  return 0;
}
