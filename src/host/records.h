// The records and services of the file manager's 1.x plug-in interface, as
// far as marlit uses them. Written from the host's byte offsets: on 32-bit
// Windows every record has the exact size and layout the host expects (checked
// at compile time below); on Linux the same members keep their order with
// native pointer widths, for our own stand-in hosts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

// The host calls entry points, and the plug-in calls host services, with the
// Windows API convention; the host finds the entry points by plain names.
#if defined(_WIN32)
#define MARLIT_WINAPI __stdcall
#define MARLIT_EXPORT
#else
#define MARLIT_WINAPI
#define MARLIT_EXPORT __attribute__((visibility("default")))
#endif

namespace marlit {

using HANDLE = void*;
// Handle -1: in Control it names the active panel; from OpenPlugin it says
// that no plug-in panel was opened.
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

constexpr int FCTL_GETPANELINFO = 1;
constexpr int FCTL_REDRAWPANEL = 5;
constexpr int FCTL_SETSELECTION = 10;

constexpr uint32_t PPIF_SELECTED = 0x40000000;

constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr uint32_t FILE_ATTRIBUTE_COMPRESSED = 0x800;

constexpr size_t kMaxPath = 260;
constexpr size_t kDialogTextSize = 512;  // FarDialogItem::Data, 511 characters

// Dialog item types and flags of the host.
constexpr int DI_TEXT = 0;
constexpr int DI_DOUBLEBOX = 3;
constexpr int DI_EDIT = 4;
constexpr int DI_BUTTON = 7;
constexpr int DI_CHECKBOX = 8;
constexpr int DI_RADIOBUTTON = 9;

constexpr uint32_t DIF_BOXCOLOR = 0x200;
constexpr uint32_t DIF_CENTERGROUP = 0x4000;
constexpr uint32_t DIF_SEPARATOR = 0x10000;
constexpr uint32_t DIF_HISTORY = 0x40000;

#pragma pack(push, 2)

// The host's file description, WIN32_FIND_DATA as the 1.x host lays it out
// (318 bytes; the Windows headers' own record is padded to 320).
struct HostFindData {
  uint32_t dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  uint32_t nFileSizeHigh;
  uint32_t nFileSizeLow;
  uint32_t dwReserved0;
  uint32_t dwReserved1;
  char cFileName[kMaxPath];
  char cAlternateFileName[14];
};

struct PluginPanelItem {
  HostFindData FindData;
  uint32_t PackSizeHigh;
  uint32_t PackSize;
  uint32_t Flags;  // PPIF_SELECTED: the item is selected
  uint32_t NumberOfLinks;
  char* Description;
  char* Owner;
  char** CustomColumnData;
  int CustomColumnNumber;
  uint32_t UserData;
  uint32_t CRC32;
  uint32_t Reserved[2];
};

struct SmallRect {
  int Left, Top, Right, Bottom;
};

// Filled whole by the host: 496 bytes in the 1.x host.
struct PanelInfo {
  int PanelType;  // 0: a file panel
  int Plugin;
  SmallRect PanelRect;
  PluginPanelItem* PanelItems;
  int ItemsNumber;
  PluginPanelItem* SelectedItems;
  int SelectedItemsNumber;
  int CurrentItem;
  int TopPanelItem;
  int Visible;
  int Focus;
  int ViewMode;
  char ColumnTypes[80];
  char ColumnWidths[80];
  char CurDir[kMaxPath];
  int ShortNames;
  int SortMode;
  uint32_t Flags;
  uint32_t Reserved;
};

struct PluginInfo {
  int StructSize;
  uint32_t Flags;
  const char* const* DiskMenuStrings;
  int* DiskMenuNumbers;
  int DiskMenuStringsNumber;
  const char* const* PluginMenuStrings;
  int PluginMenuStringsNumber;
  const char* const* PluginConfigStrings;
  int PluginConfigStringsNumber;
  const char* CommandPrefix;
};

struct FarDialogItem {
  int Type;
  int X1, Y1, X2, Y2;
  int Focus;
  union {
    int Selected;         // state of a check box or radio button
    const char* History;  // DIF_HISTORY edit fields: the history's name
  };
  uint32_t Flags;
  int DefaultButton;
  char Data[kDialogTextSize];
};

// Host services. The host's own pointer types for the services marlit
// never calls are kept as opaque slots so the offsets stay right.
using FarApiDialog = int(MARLIT_WINAPI*)(int PluginNumber, int X1, int Y1, int X2, int Y2,
                                         const char* HelpTopic, FarDialogItem* Item,
                                         int ItemsNumber);
using FarApiGetMsg = const char*(MARLIT_WINAPI*)(int PluginNumber, int MsgId);
using FarApiControl = int(MARLIT_WINAPI*)(HANDLE hPlugin, int Command, void* Param);
using FarApiCmpName = int(MARLIT_WINAPI*)(const char* Pattern, const char* String, int SkipPath);
using FarApiUnused = void*;

// The host's service table; marlit keeps a copy of its first 336 bytes.
struct PluginStartupInfo {
  int StructSize;
  char ModuleName[kMaxPath];
  int ModuleNumber;
  const char* RootKey;  // read only while SetStartupInfo runs
  FarApiUnused Menu;
  FarApiDialog Dialog;
  FarApiUnused Message;
  FarApiGetMsg GetMsg;
  FarApiControl Control;
  FarApiUnused SaveScreen;
  FarApiUnused RestoreScreen;
  FarApiUnused GetDirList;
  FarApiUnused GetPluginDirList;
  FarApiUnused FreeDirList;
  FarApiUnused Viewer;
  FarApiUnused Editor;
  FarApiCmpName CmpName;
  FarApiUnused CharTable;
  FarApiUnused Text;
  FarApiUnused EditorControl;
};

#pragma pack(pop)

// Size of the part of the host's service table that the plug-in copies.
constexpr size_t kStartupInfoCopySize = sizeof(PluginStartupInfo);

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(FILETIME) == 8);
static_assert(sizeof(HostFindData) == 318);
static_assert(offsetof(HostFindData, ftCreationTime) == 4);
static_assert(offsetof(HostFindData, ftLastAccessTime) == 12);
static_assert(offsetof(HostFindData, ftLastWriteTime) == 20);
static_assert(offsetof(HostFindData, nFileSizeHigh) == 28);
static_assert(offsetof(HostFindData, nFileSizeLow) == 32);
static_assert(offsetof(HostFindData, cFileName) == 44);
static_assert(offsetof(HostFindData, cAlternateFileName) == 304);
static_assert(sizeof(PluginPanelItem) == 366);
static_assert(offsetof(PluginPanelItem, Flags) == 326);
static_assert(sizeof(PanelInfo) == 496);
static_assert(offsetof(PanelInfo, PanelItems) == 24);
static_assert(offsetof(PanelInfo, ItemsNumber) == 28);
static_assert(offsetof(PanelInfo, CurDir) == 220);
static_assert(sizeof(PluginInfo) == 40);
static_assert(offsetof(PluginInfo, DiskMenuStringsNumber) == 16);
static_assert(offsetof(PluginInfo, PluginMenuStrings) == 20);
static_assert(offsetof(PluginInfo, PluginMenuStringsNumber) == 24);
static_assert(offsetof(PluginInfo, PluginConfigStringsNumber) == 32);
static_assert(offsetof(PluginInfo, CommandPrefix) == 36);
static_assert(sizeof(FarDialogItem) == 548);
static_assert(offsetof(FarDialogItem, Focus) == 20);
static_assert(offsetof(FarDialogItem, Selected) == 24);
static_assert(offsetof(FarDialogItem, Flags) == 28);
static_assert(offsetof(FarDialogItem, DefaultButton) == 32);
static_assert(offsetof(FarDialogItem, Data) == 36);
static_assert(sizeof(PluginStartupInfo) == 336);
static_assert(offsetof(PluginStartupInfo, ModuleNumber) == 264);
static_assert(offsetof(PluginStartupInfo, RootKey) == 268);
static_assert(offsetof(PluginStartupInfo, Dialog) == 276);
static_assert(offsetof(PluginStartupInfo, GetMsg) == 284);
static_assert(offsetof(PluginStartupInfo, Control) == 288);
static_assert(offsetof(PluginStartupInfo, CmpName) == 320);
#endif

}  // namespace marlit
