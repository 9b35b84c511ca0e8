// The built module driven through its three entry points by the stand-in
// host: loaded from bin/ (marlit.so with dlopen, marlit.dll with LoadLibrary
// under Wine), its values kept in the registry of the build. The same
// scenarios run in both builds. The zone is fixed to UTC by the test's
// environment, so item stamps and the module's local times agree.
#include "host/module.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "support/dialog_check.h"
#include "support/fake_clock.h"
#include "support/panel.h"
#include "support/settings_check.h"
#include "testhost/testhost.h"

namespace marlit {
namespace {

namespace th = testhost;
using test::ItemWanted;
using test::Stamp;
using th::CloseWindow;
using th::DialogAction;
using th::Press;
using th::Radio;
using th::SetState;
using th::SetText;
using th::Toggle;

constexpr intptr_t kNoPanel = -1;  // what OpenPlugin returns on every path
constexpr uint32_t SEL = PPIF_SELECTED;
using namespace marlit::test::attr;

// Dialog items the scripts act on.
constexpr int kMask = 2, kSelect = 4, kDeselect = 5, kInvert = 6, kClearFirst = 7, kSize = 10,
              kTime = 12, kDate = 14, kIncludeReadOnly = 17, kExcludeHidden = 25,
              kExcludeSystem = 26, kConfirm = 30, kCancel = 31, kReset = 32;

const std::string kNames[] = {"ClearFirst", "Mode", "InAttr", "ExAttr",
                              "Mask",       "Date", "Time",   "Size"};

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Each test keeps its values under a root key of its own, short enough
    // for the 79-character key path.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(info->test_suite_name()) + "." + info->name();
    rootKey_ =
        "Software\\MarlitTests\\T" + std::to_string(std::hash<std::string>{}(name) % 1000000007);
    ASSERT_TRUE(th::ResetHost(MARLIT_LANG_FILE, rootKey_))
        << "no language file at " << MARLIT_LANG_FILE;
    ASSERT_EQ(th::Host.Messages.size(), 26u);
    th::PrepareRegistry();
    th::RemoveRegistryKey(rootKey_);
    // The test reads and writes the same store as the module does.
    ASSERT_TRUE(FormPluginKeyPath(rootKey_.c_str()));
    std::string error;
    ASSERT_TRUE(th::StartModule(MARLIT_MODULE_FILE, module_, error)) << error;
  }

  void TearDown() override {
    th::UnloadModule(module_);
    th::RemoveRegistryKey(rootKey_);
  }

  // One run of the command with the user's actions, on the host's panel.
  intptr_t Run(std::vector<DialogAction> script, int openFrom = 0, int item = 0) {
    th::Host.Script = std::move(script);
    th::Host.NextAction = 0;
    th::Host.ScriptRanOut = false;
    th::Host.Dialogs.clear();
    th::Host.Calls.clear();
    th::Host.MessageRequests.clear();
    return reinterpret_cast<intptr_t>(module_.OpenPlugin(openFrom, item));
  }

  std::string rootKey_;
  th::Module module_;
};

SettingsValues Stored() {
  SettingsValues values{};
  LoadSettings(values);
  return values;
}

// How many of the eight values the store holds.
int StoredCount() {
  int count = 0;
  for (int i = 0; i < 4; ++i) {
    if (GetNumber(kHkeyCurrentUser, "", kNames[i].c_str(), 0xdeadbeef) != 0xdeadbeef) ++count;
  }
  for (int i = 4; i < 8; ++i) {
    char buffer[kMaskValueSize];
    if (GetString(kHkeyCurrentUser, "", kNames[i].c_str(), buffer, "", sizeof buffer) != 0) {
      ++count;
    }
  }
  return count;
}

// Values unlike the defaults in every field.
SettingsValues Customised() {
  return SettingsValues{1, 1, 0x21, 0x06, "*.log", "1/2/2003", "10:00", "5k"};
}

std::vector<uint32_t> PanelFlags() {
  std::vector<uint32_t> flags;
  for (const PluginPanelItem& item : th::Host.Items) {
    const uint32_t f = item.Flags;
    flags.push_back(f);
  }
  return flags;
}

std::vector<int> Commands() {
  std::vector<int> commands;
  for (const th::ControlCall& call : th::Host.Calls) commands.push_back(call.Command);
  return commands;
}

// A mixed panel: names, sizes, attributes and write times (UTC) of all kinds.
void MixedPanel() {
  const ItemWanted wanted[] = {
      {"readme.txt", 100, A, Stamp(2001, 1, 1, 10, 0), 0},
      {"report.doc", 20480, A | R, Stamp(2005, 6, 15, 18, 30), SEL},
      {"photo.jpg", 3 << 20, A | H, Stamp(2010, 3, 1, 8, 15), 0x1},
      {"notes.txt", 0, R | H | S, Stamp(2001, 1, 1, 23, 59), SEL},
      {"src", 0, D, Stamp(2003, 7, 4, 12, 0), 0},
      {"archive.zip", uint64_t{5} << 30, A | C, Stamp(1999, 12, 31, 0, 0), SEL},
      {"data.txt", 1024, A, Stamp(2005, 6, 15, 9, 0), 0},
  };
  th::Host.Items.clear();
  for (const ItemWanted& one : wanted) th::Host.Items.push_back(test::MakeItem(one));
}

// The members of the host's packed record, copied out to be compared.
struct InfoView {
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

InfoView View(const PluginInfo& info) {
  return InfoView{info.StructSize,
                  info.Flags,
                  info.DiskMenuStrings,
                  info.DiskMenuNumbers,
                  info.DiskMenuStringsNumber,
                  info.PluginMenuStrings,
                  info.PluginMenuStringsNumber,
                  info.PluginConfigStrings,
                  info.PluginConfigStringsNumber,
                  info.CommandPrefix};
}

// --- Load and menu ----------------------------------------------------------

TEST_F(ModuleTest, NothingHappensAtLoadButKeepingTheServiceTable) {
  EXPECT_TRUE(th::Host.MessageRequests.empty());
  EXPECT_TRUE(th::Host.Calls.empty());
  EXPECT_TRUE(th::Host.Dialogs.empty());
  EXPECT_EQ(StoredCount(), 0);
}

TEST_F(ModuleTest, GetPluginInfoAsksForOneMenuEntryFetchedAtEveryCall) {
  const char* const diskStrings[] = {"disk"};
  int diskNumbers[] = {4};
  const char* const configStrings[] = {"config"};
  PluginInfo info{};
  info.StructSize = 999;
  info.Flags = 0xffff;
  info.DiskMenuStrings = diskStrings;
  info.DiskMenuNumbers = diskNumbers;
  info.DiskMenuStringsNumber = 7;
  info.PluginMenuStringsNumber = 7;
  info.PluginConfigStrings = configStrings;
  info.PluginConfigStringsNumber = 7;
  info.CommandPrefix = "pre";

  module_.GetPluginInfo(&info);
  const InfoView first = View(info);
  EXPECT_EQ(th::Host.MessageRequests, std::vector<int>{3});
  EXPECT_EQ(th::Host.MessageModules, std::vector<int>{th::Host.ModuleNumber});
  EXPECT_EQ(first.StructSize, 40);
  EXPECT_EQ(first.Flags, 0u);
  EXPECT_EQ(first.DiskMenuStringsNumber, 0);
  EXPECT_EQ(first.PluginMenuStringsNumber, 1);
  EXPECT_EQ(first.PluginConfigStringsNumber, 0);
  ASSERT_NE(first.PluginMenuStrings, nullptr);
  EXPECT_EQ(first.PluginMenuStrings[0], th::Host.Messages[3].c_str());
  // Members not listed keep what the host put there.
  EXPECT_EQ(first.DiskMenuStrings, diskStrings);
  EXPECT_EQ(first.DiskMenuNumbers, diskNumbers);
  EXPECT_EQ(first.PluginConfigStrings, configStrings);
  EXPECT_STREQ(first.CommandPrefix, "pre");

  th::Host.Messages[3] = "Renamed entry";
  PluginInfo again{};
  module_.GetPluginInfo(&again);
  const InfoView second = View(again);
  EXPECT_EQ(th::Host.MessageRequests, (std::vector<int>{3, 3}));
  EXPECT_EQ(second.PluginMenuStrings, first.PluginMenuStrings);
  EXPECT_STREQ(second.PluginMenuStrings[0], "Renamed entry");
  EXPECT_EQ(second.StructSize, 40);
  EXPECT_EQ(second.PluginMenuStringsNumber, 1);
  EXPECT_TRUE(th::Host.Calls.empty());
  EXPECT_TRUE(th::Host.Dialogs.empty());
}

// --- The panel gate -------------------------------------------------------------

struct GateCase {
  const char* Name;
  th::PanelReply Reply;
  int PanelType;
};

TEST_F(ModuleTest, WithoutAFilePanelNothingHappensAfterThePanelRequest) {
  const GateCase cases[] = {
      {"tree panel", th::PanelReply::Fill, 1},
      {"quick view", th::PanelReply::Fill, 2},
      {"unknown kind", th::PanelReply::Fill, -7},
      {"host reports failure", th::PanelReply::Fail, 0},
      {"host leaves the record unfilled", th::PanelReply::LeaveUnfilled, 0},
  };
  const SettingsValues before = Customised();
  SaveSettings(before);
  for (const GateCase& c : cases) {
    SCOPED_TRACE(c.Name);
    MixedPanel();
    const std::vector<uint32_t> flags = PanelFlags();
    th::Host.Reply = c.Reply;
    th::Host.PanelType = c.PanelType;
    const bool watched = th::BeginRegistryWatch();
    EXPECT_EQ(Run({Press(kConfirm)}), kNoPanel);
    const int accesses = th::EndRegistryWatch();
    ASSERT_EQ(th::Host.Calls.size(), 1u);
    EXPECT_EQ(th::Host.Calls[0].Handle, intptr_t{-1});
    EXPECT_EQ(th::Host.Calls[0].Command, FCTL_GETPANELINFO);
    EXPECT_NE(th::Host.Calls[0].Param, nullptr);
    EXPECT_TRUE(th::Host.Dialogs.empty());
    EXPECT_TRUE(th::Host.MessageRequests.empty());
    EXPECT_EQ(PanelFlags(), flags);
    if (watched) {
      EXPECT_EQ(accesses, 0) << "the registry was accessed";
    }
    test::ExpectSameSettings(Stored(), before);
  }
}

// --- Abandoned dialogs ----------------------------------------------------------

struct CancelCase {
  const char* Name;
  std::vector<DialogAction> Script;
  size_t Shown;
};

TEST_F(ModuleTest, AnAbandonedDialogSavesNothingAndLeavesThePanel) {
  const CancelCase cases[] = {
      {"cancel", {Press(kCancel)}, 1},
      {"closed", {CloseWindow()}, 1},
      {"reset, cancel", {Press(kReset), Press(kCancel)}, 2},
      {"edits, reset, edits, reset, cancel",
       {SetText(kMask, "*.txt"), Toggle(kClearFirst), Press(kReset), SetText(kSize, "1k"),
        Radio(kInvert), Press(kReset), Press(kCancel)},
       3},
      {"reset three times, closed",
       {Press(kReset), Press(kReset), Press(kReset), CloseWindow()},
       4},
  };
  const SettingsValues before = Customised();
  SaveSettings(before);
  for (const CancelCase& c : cases) {
    SCOPED_TRACE(c.Name);
    MixedPanel();
    const std::vector<uint32_t> flags = PanelFlags();
    EXPECT_EQ(Run(c.Script), kNoPanel);
    EXPECT_FALSE(th::Host.ScriptRanOut);
    EXPECT_EQ(th::Host.Dialogs.size(), c.Shown);
    EXPECT_EQ(Commands(), std::vector<int>{FCTL_GETPANELINFO});
    EXPECT_EQ(PanelFlags(), flags);
    test::ExpectSameSettings(Stored(), before);
  }
}

TEST_F(ModuleTest, AnAbandonedFirstRunStoresNoValue) {
  MixedPanel();
  EXPECT_EQ(Run({SetText(kMask, "*.txt"), Press(kReset), Press(kCancel)}), kNoPanel);
  EXPECT_EQ(StoredCount(), 0);
}

// --- Confirmed dialogs ---------------------------------------------------------

TEST_F(ModuleTest, AConfirmOnAnEmptyPanelSavesAndStillHandsBackAndRedraws) {
  th::Host.Items.clear();
  const bool watched = th::BeginRegistryWatch();
  EXPECT_EQ(Run({Press(kConfirm)}), kNoPanel);
  const int accesses = th::EndRegistryWatch();
  if (watched) {
    EXPECT_GT(accesses, 0) << "the registry watch saw nothing";
  }
  EXPECT_EQ(StoredCount(), 8);
  SettingsValues defaults{};
  std::strcpy(defaults.Mask, "*.*");
  test::ExpectSameSettings(Stored(), defaults);

  ASSERT_EQ(Commands(), (std::vector<int>{FCTL_GETPANELINFO, FCTL_SETSELECTION, FCTL_REDRAWPANEL}));
  for (const th::ControlCall& call : th::Host.Calls) EXPECT_EQ(call.Handle, intptr_t{-1});
  // The record the host filled is the one handed back.
  EXPECT_EQ(th::Host.Calls[1].Param, th::Host.FilledPanel);
  EXPECT_EQ(th::Host.Calls[1].Param, th::Host.Calls[0].Param);
  EXPECT_TRUE(th::Host.Calls[1].Flags.empty());
  EXPECT_EQ(th::Host.Calls[2].Param, nullptr);
}

TEST_F(ModuleTest, TheSelectionIsHandedBackBeforeTheRedraw) {
  MixedPanel();
  EXPECT_EQ(Run({SetText(kMask, "*.txt"), Toggle(kClearFirst), Press(kConfirm)}), kNoPanel);
  ASSERT_EQ(Commands(), (std::vector<int>{FCTL_GETPANELINFO, FCTL_SETSELECTION, FCTL_REDRAWPANEL}));
  EXPECT_EQ(th::Host.Calls[1].Param, th::Host.Calls[0].Param);
  // The host sees the marks when the selection is handed back.
  EXPECT_EQ(th::Host.Calls[1].Flags, (std::vector<uint32_t>{SEL, 0, 0, SEL, 0, 0, SEL}));
  EXPECT_EQ(PanelFlags(), th::Host.Calls[1].Flags);
  EXPECT_EQ(th::Host.Calls[2].Param, nullptr);
}

TEST_F(ModuleTest, AFirstRunShowsTheDefaultsWithTheFocusInTheMaskField) {
  MixedPanel();
  EXPECT_EQ(Run({Press(kCancel)}), kNoPanel);
  ASSERT_EQ(th::Host.Dialogs.size(), 1u);
  const th::ShownDialog& shown = th::Host.Dialogs[0];
  th::ExpectSelectionDialogCall(shown);
  ASSERT_EQ(shown.Items.size(), 33u);
  EXPECT_EQ(shown.Items[kMask].Data, "*.*");
  EXPECT_EQ(shown.Items[kSize].Data, "");
  EXPECT_EQ(shown.Items[kTime].Data, "");
  EXPECT_EQ(shown.Items[kDate].Data, "");
  EXPECT_EQ(shown.Items[kSelect].Selected, 1);
  EXPECT_EQ(shown.Items[kDeselect].Selected, 0);
  EXPECT_EQ(shown.Items[kInvert].Selected, 0);
  EXPECT_EQ(shown.Items[kClearFirst].Selected, 0);
  for (int i = 16; i <= 28; ++i) EXPECT_EQ(shown.Items[i].Selected, 0) << i;
  for (int i = 0; i < 33; ++i) EXPECT_EQ(shown.Items[i].Focus, i == kMask ? 1 : 0) << i;
  // Every caption comes from the language file.
  const int messages[][2] = {{0, 3},   {1, 4},   {4, 5},   {5, 6},  {6, 7},   {7, 8},
                             {9, 16},  {11, 18}, {13, 17}, {15, 9}, {16, 10}, {21, 15},
                             {22, 19}, {23, 20}, {28, 25}, {30, 0}, {31, 1},  {32, 2}};
  for (const auto& m : messages) {
    EXPECT_EQ(shown.Items[m[0]].Data, th::Host.Messages[m[1]]) << "item " << m[0];
  }
}

TEST_F(ModuleTest, StoredValuesAreShownAndResetRestoresTheDefaultsKeepingTheHistories) {
  const SettingsValues before = Customised();
  SaveSettings(before);
  MixedPanel();
  EXPECT_EQ(Run({SetText(kMask, "*.c"), Radio(kInvert), Toggle(16), Toggle(26), Press(kReset),
                 Press(kCancel)}),
            kNoPanel);
  ASSERT_EQ(th::Host.Dialogs.size(), 2u);
  const th::ShownDialog& first = th::Host.Dialogs[0];
  EXPECT_EQ(first.Items[kMask].Data, "*.log");
  EXPECT_EQ(first.Items[kDate].Data, "1/2/2003");
  EXPECT_EQ(first.Items[kTime].Data, "10:00");
  EXPECT_EQ(first.Items[kSize].Data, "5k");
  EXPECT_EQ(first.Items[kClearFirst].Selected, 1);
  EXPECT_EQ(first.Items[kDeselect].Selected, 1);
  EXPECT_EQ(first.Items[16].Selected, 1);  // InAttr 0x21: archive
  EXPECT_EQ(first.Items[21].Selected, 1);  // and compressed
  EXPECT_EQ(first.Items[24].Selected, 1);  // ExAttr 0x06: read-only
  EXPECT_EQ(first.Items[25].Selected, 1);  // and hidden

  const th::ShownDialog& reset = th::Host.Dialogs[1];
  EXPECT_EQ(reset.Items[kMask].Data, "*.*");
  EXPECT_EQ(reset.Items[kSize].Data, "");
  EXPECT_EQ(reset.Items[kTime].Data, "");
  EXPECT_EQ(reset.Items[kDate].Data, "");
  EXPECT_EQ(reset.Items[kSelect].Selected, 1);
  EXPECT_EQ(reset.Items[kDeselect].Selected, 0);
  EXPECT_EQ(reset.Items[kInvert].Selected, 0);
  EXPECT_EQ(reset.Items[kClearFirst].Selected, 0);
  for (int i = 16; i <= 28; ++i) EXPECT_EQ(reset.Items[i].Selected, 0) << i;
  for (int i = 0; i < 33; ++i) EXPECT_EQ(reset.Items[i].Focus, i == kMask ? 1 : 0) << i;
  EXPECT_EQ(reset.Items[kMask].History, "Masks");
  EXPECT_EQ(reset.Items[kSize].History, "mrl_size");
  EXPECT_EQ(reset.Items[kTime].History, "mrl_time");
  EXPECT_EQ(reset.Items[kDate].History, "mrl_date");
  for (const th::ShownDialog& shown : th::Host.Dialogs) {
    for (int i = 0; i < 33; ++i) {
      const bool history = i == kMask || i == kSize || i == kTime || i == kDate;
      EXPECT_EQ((shown.Items[i].Flags & DIF_HISTORY) != 0, history) << i;
    }
  }
  test::ExpectSameSettings(Stored(), before);
}

// --- Round trips ----------------------------------------------------------------

struct RoundTrip {
  const char* Name;
  SettingsValues Before;
  std::vector<DialogAction> User;
  std::vector<int> ShownOn;  // action and attribute items shown on
  uint32_t ClearFirst, Mode, InAttr, ExAttr;
};

TEST_F(ModuleTest, StatesRoundTripThroughTheDialog) {
  const RoundTrip cases[] = {
      {"mode 7, all off", {0, 7, 0, 0, "*.*", "", "", ""}, {}, {}, 0, 2, 0, 0},
      {"mode 7, deselect chosen",
       {0, 7, 0, 0, "*.*", "", "", ""},
       {Radio(kDeselect)},
       {},
       0,
       1,
       0,
       0},
      {"clear-first 5", {5, 0, 0, 0, "*.*", "", "", ""}, {}, {kSelect}, 5, 0, 0, 0},
      {"include 0x41", {0, 0, 0x41, 0, "*.*", "", "", ""}, {}, {kSelect, 16}, 0, 0, 1, 0},
      {"exclude 0x3f",
       {0, 2, 0, 0x3f, "*.*", "", "", ""},
       {},
       {kInvert, 23, 24, 25, 26, 27, 28},
       0,
       2,
       0,
       0x3f},
  };
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.Name);
    SaveSettings(c.Before);
    MixedPanel();
    EXPECT_EQ(Run(c.User.empty() ? std::vector<DialogAction>{Press(kConfirm)}
                                 : std::vector<DialogAction>{c.User[0], Press(kConfirm)}),
              kNoPanel);
    ASSERT_EQ(th::Host.Dialogs.size(), 1u);
    const th::ShownDialog& shown = th::Host.Dialogs[0];
    EXPECT_EQ(shown.Items[kClearFirst].Selected, static_cast<int>(c.Before.ClearFirst));
    std::vector<int> on;
    for (int i : {kSelect, kDeselect, kInvert, 16, 17, 18, 19, 20, 21, 23, 24, 25, 26, 27, 28}) {
      if (shown.Items[i].Selected != 0) on.push_back(i);
    }
    EXPECT_EQ(on, c.ShownOn);
    const SettingsValues after = Stored();
    EXPECT_EQ(after.ClearFirst, c.ClearFirst);
    EXPECT_EQ(after.Mode, c.Mode);
    EXPECT_EQ(after.InAttr, c.InAttr);
    EXPECT_EQ(after.ExAttr, c.ExAttr);
  }
}

TEST_F(ModuleTest, AStoredClearFirstOf5ClearsThePanelFirst) {
  SaveSettings(SettingsValues{5, 0, 0, 0, "*.none", "", "", ""});
  MixedPanel();
  EXPECT_EQ(Run({Press(kConfirm)}), kNoPanel);
  EXPECT_EQ(PanelFlags(), std::vector<uint32_t>(7, 0));
  EXPECT_EQ(Stored().ClearFirst, 5u);
}

// --- Long texts ------------------------------------------------------------------

std::string Padded(const std::string& head, size_t length, const std::string& tail) {
  return head + std::string(length - head.size() - tail.size(), ' ') + tail;
}

struct LongText {
  const char* Name;
  int Item;
  std::string Text;
  size_t SavedLength;
  std::vector<uint32_t> Flags;  // after the run, from an empty selection
};

TEST_F(ModuleTest, LongTextsAreCutWhenSavedButParsedWhole) {
  // Whole, the size text reads 10k (a multiplier past the 63rd character);
  // cut, it would read 10.
  const std::string size70 = Padded("10", 70, "k   ");
  // Whole, the date text is a range from 1 January 2001 (its last character
  // is the range mark); cut to 127, one day.
  const std::string date128 = Padded("1/1/01", 128, ".");
  const std::string date127 = Padded("1/1/01", 127, ".");
  const LongText cases[] = {
      {"size of 70", kSize, size70, 63, {0, 0, 0, 0, 0, 0, SEL}},
      {"date of 128", kDate, date128, 127, {SEL, SEL, SEL, SEL, SEL, 0, SEL}},
      {"date of 127", kDate, date127, 127, {SEL, SEL, SEL, SEL, SEL, 0, SEL}},
      {"mask of 300", kMask, Padded("*.txt", 300, "!"), 259, {0, 0, 0, 0, 0, 0, 0}},
  };
  for (const LongText& c : cases) {
    SCOPED_TRACE(c.Name);
    MixedPanel();
    for (PluginPanelItem& item : th::Host.Items) item.Flags = 0;
    th::Host.Items[6].FindData.nFileSizeLow = 10240;  // 10k
    th::Host.Items[0].FindData.nFileSizeLow = 10;
    EXPECT_EQ(Run({Press(kReset), SetText(c.Item, c.Text), Press(kConfirm)}), kNoPanel);
    EXPECT_EQ(PanelFlags(), c.Flags);
    // The host's name matching is handed the whole mask.
    if (c.Item == kMask) {
      EXPECT_EQ(th::Host.LastPattern, c.Text);
    }
    const SettingsValues after = Stored();
    const std::string saved = c.Item == kSize   ? after.Size
                              : c.Item == kDate ? after.Date
                                                : after.Mask;
    EXPECT_EQ(saved, c.Text.substr(0, c.SavedLength));

    // The next run shows the saved text.
    EXPECT_EQ(Run({Press(kCancel)}), kNoPanel);
    ASSERT_EQ(th::Host.Dialogs.size(), 1u);
    EXPECT_EQ(th::Host.Dialogs[0].Items[c.Item].Data, saved);
  }
}

// --- Whole runs -------------------------------------------------------------------

TEST_F(ModuleTest, OpenFromAndItemDoNotMatter) {
  const std::vector<DialogAction> script = {SetText(kMask, "*.t*"), SetText(kSize, "..1k"),
                                            Radio(kInvert), Press(kConfirm)};
  MixedPanel();
  ASSERT_EQ(Run(script), kNoPanel);
  const std::vector<uint32_t> expected = PanelFlags();
  const std::vector<int> commands = Commands();
  const SettingsValues stored = Stored();
  const int args[][2] = {{1, 0}, {5, 12345}, {-1, -1}, {INT_MAX, INT_MIN}, {7, 0}, {0, 99}};
  for (const auto& a : args) {
    SCOPED_TRACE(std::to_string(a[0]) + ", " + std::to_string(a[1]));
    MixedPanel();
    EXPECT_EQ(Run(script, a[0], a[1]), kNoPanel);
    EXPECT_EQ(PanelFlags(), expected);
    EXPECT_EQ(Commands(), commands);
    EXPECT_EQ(th::Host.Dialogs.size(), 1u);
    test::ExpectSameSettings(Stored(), stored);
  }
}

TEST_F(ModuleTest, TheKeyPathIsFormedOnceFromTheRootKeyAtStartup) {
  // The host's text changes after SetStartupInfo; the module keeps its path.
  th::Host.RootKey.assign("Software\\MarlitTests\\Elsewhere");
  MixedPanel();
  EXPECT_EQ(Run({SetText(kMask, "*.key"), Press(kConfirm)}), kNoPanel);
  EXPECT_STREQ(Stored().Mask, "*.key");
}

struct FullRun {
  const char* Name;
  std::vector<DialogAction> User;
  std::vector<uint32_t> Flags;
};

// The panel starts with report.doc, notes.txt and archive.zip selected, and
// a flag bit of the host's own on photo.jpg.
TEST_F(ModuleTest, SelectDeselectAndInvertOverAMixedPanel) {
  const FullRun cases[] = {
      {"select *.txt", {SetText(kMask, "*.txt")}, {SEL, SEL, 0x1, SEL, 0, SEL, SEL}},
      {"deselect up to 1k",
       {Radio(kDeselect), SetText(kSize, "..1k")},
       {0, SEL, 0x1, 0, 0, SEL, 0}},
      {"invert 2001 to 2005",
       {Radio(kInvert), SetText(kDate, "1/1/01..31/12/05")},
       {SEL, 0, 0x1, 0, SEL, SEL, SEL}},
      {"clear first, select read-only",
       {Toggle(kClearFirst), Toggle(kIncludeReadOnly)},
       {0, SEL, 0, SEL, 0, 0, 0}},
      {"clear first, *.txt except hidden and system",
       {Toggle(kClearFirst), SetText(kMask, "*.txt"), Toggle(kExcludeHidden),
        Toggle(kExcludeSystem)},
       {SEL, 0, 0, 0, 0, 0, SEL}},
      {"clear first, written between 8:00 and 10:00",
       {Toggle(kClearFirst), SetText(kTime, "8:00..10:00")},
       {SEL, 0, SEL, 0, 0, 0, SEL}},
      {"invert up to 1k, directories excluded",
       {Radio(kInvert), SetText(kSize, "..1k"), Toggle(27)},
       {SEL, SEL, 0x1, 0, 0, SEL, SEL}},
      {"select nothing: no item meets the criteria",
       {SetText(kMask, "*.none")},
       {0, SEL, 0x1, SEL, 0, SEL, 0}},
  };
  for (const FullRun& c : cases) {
    SCOPED_TRACE(c.Name);
    MixedPanel();
    std::vector<DialogAction> script = {Press(kReset)};
    script.insert(script.end(), c.User.begin(), c.User.end());
    script.push_back(Press(kConfirm));
    EXPECT_EQ(Run(script), kNoPanel);
    EXPECT_FALSE(th::Host.ScriptRanOut);
    EXPECT_EQ(PanelFlags(), c.Flags);
    ASSERT_EQ(Commands(),
              (std::vector<int>{FCTL_GETPANELINFO, FCTL_SETSELECTION, FCTL_REDRAWPANEL}));
    EXPECT_EQ(th::Host.Calls[1].Flags, c.Flags);
  }
}

}  // namespace
}  // namespace marlit
