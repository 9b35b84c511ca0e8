// The selection dialog's operations: the template and its expansion, filling
// from loaded values, reset, read-back, and whole runs against the scripted
// host's dialog.
#include "dialog/dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/module.h"
#include "support/dialog_check.h"
#include "support/settings_check.h"
#include "testhost/testhost.h"

namespace marlit {
namespace {

namespace th = testhost;

std::string MessageOf(int id) { return "text " + std::to_string(id); }

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(th::ResetHost(nullptr, "Software\\MarlitTests\\Dialog"));
    for (int id = 0; id < 26; ++id) th::Host.Messages.push_back(MessageOf(id));
    StartupInfo = th::MakeStartupInfo();
  }
};

std::string TextOf(const FarDialogItem& item) {
  return std::string(item.Data, strnlen(item.Data, sizeof item.Data));
}

int StateOf(const FarDialogItem& item) { return item.Selected; }

std::string HistoryOf(const FarDialogItem& item) {
  const char* history = item.History;
  return history != nullptr ? history : "(null)";
}

// The items as a run shows them first.
void BuildItems(const SettingsValues& values, DialogItemTemplate (&copy)[kDialogItemCount],
                FarDialogItem (&items)[kDialogItemCount]) {
  PrepareDialogTemplate(copy);
  ExpandDialogItems(copy, items, kDialogItemCount);
  FillDialogItems(values, items);
}

// --- The template, expanded ------------------------------------------------

struct Row {
  int Type, X1, Y1, X2, Y2, Focus;
  uint32_t Flags;
  int DefaultButton;
  int Message;  // -1: the empty literal text
};

constexpr uint32_t kSep = 0x10200;
constexpr uint32_t kHist = 0x40000;
constexpr uint32_t kCenter = 0x4000;

const Row kRows[kDialogItemCount] = {
    {3, 3, 1, 66, 18, 0, 0, 0, 3},      {0, 5, 2, 0, 0, 0, 0, 0, 4},
    {4, 5, 3, 64, 3, 1, kHist, 0, -1},  {0, 5, 4, 0, 0, 0, kSep, 0, -1},
    {9, 5, 5, 0, 0, 0, 0, 0, 5},        {9, 20, 5, 0, 0, 0, 0, 0, 6},
    {9, 35, 5, 0, 0, 0, 0, 0, 7},       {8, 5, 6, 0, 0, 0, 0, 0, 8},
    {0, 5, 7, 0, 0, 0, kSep, 0, -1},    {0, 5, 8, 0, 0, 0, 0, 0, 16},
    {4, 5, 9, 30, 3, 0, kHist, 0, -1},  {0, 5, 11, 0, 0, 0, 0, 0, 18},
    {4, 5, 12, 30, 3, 0, kHist, 0, -1}, {0, 5, 14, 0, 0, 0, 0, 0, 17},
    {4, 5, 15, 30, 3, 0, kHist, 0, -1}, {0, 35, 8, 0, 0, 0, 0, 0, 9},
    {8, 35, 9, 0, 0, 0, 0, 0, 10},      {8, 35, 10, 0, 0, 0, 0, 0, 11},
    {8, 35, 11, 0, 0, 0, 0, 0, 12},     {8, 50, 9, 0, 0, 0, 0, 0, 13},
    {8, 50, 10, 0, 0, 0, 0, 0, 14},     {8, 50, 11, 0, 0, 0, 0, 0, 15},
    {0, 35, 12, 0, 0, 0, 0, 0, 19},     {8, 35, 13, 0, 0, 0, 0, 0, 20},
    {8, 35, 14, 0, 0, 0, 0, 0, 21},     {8, 35, 15, 0, 0, 0, 0, 0, 22},
    {8, 50, 13, 0, 0, 0, 0, 0, 23},     {8, 50, 14, 0, 0, 0, 0, 0, 24},
    {8, 50, 15, 0, 0, 0, 0, 0, 25},     {0, 5, 16, 0, 0, 0, kSep, 0, -1},
    {7, 0, 17, 0, 0, 0, kCenter, 1, 0}, {7, 0, 17, 0, 0, 0, kCenter, 0, 1},
    {7, 0, 17, 0, 0, 0, kCenter, 0, 2},
};

TEST_F(DialogTest, ExpandedTemplateGivesEveryItemItsFieldsAndText) {
  FarDialogItem items[kDialogItemCount];
  ExpandDialogItems(SelectionDialogTemplate, items, kDialogItemCount);
  for (int i = 0; i < kDialogItemCount; ++i) {
    SCOPED_TRACE("item " + std::to_string(i));
    const Row& row = kRows[i];
    EXPECT_EQ(int{items[i].Type}, row.Type);
    EXPECT_EQ(int{items[i].X1}, row.X1);
    EXPECT_EQ(int{items[i].Y1}, row.Y1);
    EXPECT_EQ(int{items[i].X2}, row.X2);
    EXPECT_EQ(int{items[i].Y2}, row.Y2);
    EXPECT_EQ(int{items[i].Focus}, row.Focus);
    EXPECT_EQ(uint32_t{items[i].Flags}, row.Flags);
    EXPECT_EQ(int{items[i].DefaultButton}, row.DefaultButton);
    EXPECT_EQ(TextOf(items[i]), row.Message < 0 ? "" : MessageOf(row.Message));
    // The constant table carries no state and no history name.
    EXPECT_EQ(SelectionDialogTemplate[i].Selected, 0u);
    EXPECT_EQ(SelectionDialogTemplate[i].Data < kFirstLiteralText, row.Message >= 0);
  }
}

TEST_F(DialogTest, DataBelow2000IsAMessageIdAndAnyOtherValueALiteralText) {
  th::Host.Messages.resize(2000);
  th::Host.Messages[0] = "first";
  th::Host.Messages[1999] = "last";
  static const char kLiteral[] = "a literal text";
  const DialogItemTemplate templates[] = {
      {DI_TEXT, 1, 1, 0, 0, 0, 0, 0, 0, 0},
      {DI_TEXT, 1, 2, 0, 0, 0, 0, 0, 0, 1999},
      {DI_TEXT, 1, 3, 0, 0, 0, 0, 0, 0, reinterpret_cast<uintptr_t>(kLiteral)},
  };
  FarDialogItem items[3];
  ExpandDialogItems(templates, items, 3);
  EXPECT_EQ(TextOf(items[0]), "first");
  EXPECT_EQ(TextOf(items[1]), "last");
  EXPECT_EQ(TextOf(items[2]), kLiteral);
  EXPECT_EQ(th::Host.MessageRequests, (std::vector<int>{0, 1999}));
  EXPECT_EQ(th::Host.MessageModules,
            (std::vector<int>{th::Host.ModuleNumber, th::Host.ModuleNumber}));
}

TEST_F(DialogTest, ExpansionCopiesTheWordsOfEveryField) {
  static const char kName[] = "history";
  const DialogItemTemplate templates[] = {
      {200, 201, 202, 203, 204, 205, 0x12345678, 0x87654321, 206, 3},
      {DI_EDIT, 1, 2, 3, 4, 1, reinterpret_cast<uintptr_t>(kName), DIF_HISTORY, 0, 3},
  };
  FarDialogItem items[2];
  ExpandDialogItems(templates, items, 2);
  EXPECT_EQ(int{items[0].Type}, 200);
  EXPECT_EQ(int{items[0].X1}, 201);
  EXPECT_EQ(int{items[0].Y1}, 202);
  EXPECT_EQ(int{items[0].X2}, 203);
  EXPECT_EQ(int{items[0].Y2}, 204);
  EXPECT_EQ(int{items[0].Focus}, 205);
  EXPECT_EQ(StateOf(items[0]), 0x12345678);
  EXPECT_EQ(uint32_t{items[0].Flags}, 0x87654321u);
  EXPECT_EQ(int{items[0].DefaultButton}, 206);
  EXPECT_EQ(HistoryOf(items[1]), kName);
}

TEST_F(DialogTest, NoItemIsTouchedForACountOfZeroOrLess) {
  for (const int count : {0, -1, -33}) {
    FarDialogItem items[2];
    std::memset(items, 0x5a, sizeof items);
    ExpandDialogItems(SelectionDialogTemplate, items, count);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(items);
    for (size_t i = 0; i < sizeof items; ++i) ASSERT_EQ(bytes[i], 0x5a) << count;
  }
  EXPECT_TRUE(th::Host.MessageRequests.empty());
}

TEST_F(DialogTest, MessageTextsAreCutTo511Characters) {
  struct Case {
    size_t Length;
    size_t Shown;
  };
  for (const Case c : {Case{0, 0}, Case{510, 510}, Case{511, 511}, Case{512, 511}, Case{600, 511},
                       Case{5000, 511}}) {
    std::string text(c.Length, 'x');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    th::Host.Messages[3] = text;
    FarDialogItem items[1];
    ExpandDialogItems(SelectionDialogTemplate, items, 1);
    EXPECT_EQ(TextOf(items[0]), text.substr(0, c.Shown)) << c.Length;
    EXPECT_EQ(items[0].Data[sizeof items[0].Data - 1], '\0');
  }
}

TEST_F(DialogTest, MessagesAreFetchedAnewAtEveryExpansion) {
  FarDialogItem items[kDialogItemCount];
  ExpandDialogItems(SelectionDialogTemplate, items, kDialogItemCount);
  EXPECT_EQ(th::Host.MessageRequests.size(), 26u);
  th::Host.Messages[0] = "changed";
  ExpandDialogItems(SelectionDialogTemplate, items, kDialogItemCount);
  EXPECT_EQ(th::Host.MessageRequests.size(), 52u);
  EXPECT_EQ(TextOf(items[kConfirmItem]), "changed");
}

TEST_F(DialogTest, AMessageTheHostDoesNotHaveIsTheEmptyText) {
  th::Host.Messages.resize(3);  // ids 3 and up are unknown to the host
  EXPECT_STREQ(GetMessageText(3), "");
  EXPECT_STREQ(GetMessageText(2), "text 2");
  FarDialogItem items[kDialogItemCount];
  ExpandDialogItems(SelectionDialogTemplate, items, kDialogItemCount);
  EXPECT_EQ(TextOf(items[0]), "");
  EXPECT_EQ(TextOf(items[kResetItem]), "text 2");
}

TEST_F(DialogTest, TheRunsCopyCarriesTheHistoryNamesAndTheTableStaysAsItWas) {
  DialogItemTemplate copy[kDialogItemCount];
  PrepareDialogTemplate(copy);
  FarDialogItem items[kDialogItemCount];
  ExpandDialogItems(copy, items, kDialogItemCount);
  EXPECT_EQ(HistoryOf(items[kMaskItem]), "Masks");
  EXPECT_EQ(HistoryOf(items[kSizeItem]), "mrl_size");
  EXPECT_EQ(HistoryOf(items[kTimeItem]), "mrl_time");
  EXPECT_EQ(HistoryOf(items[kDateItem]), "mrl_date");
  for (int i = 0; i < kDialogItemCount; ++i) {
    EXPECT_EQ(SelectionDialogTemplate[i].Selected, 0u) << i;
    if (i != kMaskItem && i != kSizeItem && i != kTimeItem && i != kDateItem) {
      EXPECT_EQ(copy[i].Selected, 0u) << i;
    }
  }
}

// --- Filling from the loaded values -----------------------------------------

struct FillCase {
  uint32_t ClearFirst, Mode, InAttr, ExAttr;
  int Select, Deselect, Invert, ClearBox;
  std::vector<int> CheckedBoxes;
};

TEST_F(DialogTest, LoadedValuesSetTheStates) {
  const FillCase cases[] = {
      {0, 0, 0, 0, 1, 0, 0, 0, {}},
      {1, 1, 0, 0, 0, 1, 0, 1, {}},
      {5, 2, 0, 0, 0, 0, 1, 5, {}},
      {0, 7, 0, 0, 0, 0, 0, 0, {}},  // a mode outside 0..2 sets no button
      {0, 3, 0, 0, 0, 0, 0, 0, {}},
      {0, 0, 0x41, 0, 1, 0, 0, 0, {16}},  // bit 6 is ignored
      {0, 0, 0x3f, 0, 1, 0, 0, 0, {16, 17, 18, 19, 20, 21}},
      {0, 0, 0, 0x21, 1, 0, 0, 0, {23, 28}},
      {0, 0, 0xffffffc0, 0xffffffc0, 1, 0, 0, 0, {}},
      {0, 0, 0x12, 0x0c, 1, 0, 0, 0, {17, 20, 25, 26}},
  };
  for (const FillCase& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.Mode) + " in " + std::to_string(c.InAttr) + " ex " +
                 std::to_string(c.ExAttr));
    SettingsValues values = test::DefaultSettings();
    values.ClearFirst = c.ClearFirst;
    values.Mode = c.Mode;
    values.InAttr = c.InAttr;
    values.ExAttr = c.ExAttr;
    DialogItemTemplate copy[kDialogItemCount];
    FarDialogItem items[kDialogItemCount];
    BuildItems(values, copy, items);
    EXPECT_EQ(StateOf(items[kSelectItem]), c.Select);
    EXPECT_EQ(StateOf(items[kDeselectItem]), c.Deselect);
    EXPECT_EQ(StateOf(items[kInvertItem]), c.Invert);
    EXPECT_EQ(StateOf(items[kClearFirstItem]), c.ClearBox);
    std::vector<int> checked;
    for (int i = kFirstIncludeItem; i < kFirstExcludeItem + kAttributeCount; ++i) {
      if (i != kFirstIncludeItem + kAttributeCount && StateOf(items[i]) != 0) checked.push_back(i);
    }
    EXPECT_EQ(checked, c.CheckedBoxes);
  }
}

TEST_F(DialogTest, LoadedTextsGoIntoTheirFields) {
  SettingsValues values{};
  std::strcpy(values.Mask, "*.txt *.doc");
  std::strcpy(values.Size, "10k..1m");
  std::strcpy(values.Time, "8:00..17:30");
  std::strcpy(values.Date, "1/1/2001..");
  DialogItemTemplate copy[kDialogItemCount];
  FarDialogItem items[kDialogItemCount];
  BuildItems(values, copy, items);
  EXPECT_EQ(TextOf(items[kMaskItem]), "*.txt *.doc");
  EXPECT_EQ(TextOf(items[kSizeItem]), "10k..1m");
  EXPECT_EQ(TextOf(items[kTimeItem]), "8:00..17:30");
  EXPECT_EQ(TextOf(items[kDateItem]), "1/1/2001..");
  // The history names stay beside the texts.
  EXPECT_EQ(HistoryOf(items[kMaskItem]), "Masks");
  EXPECT_EQ(HistoryOf(items[kDateItem]), "mrl_date");
}

// --- Reset --------------------------------------------------------------------

TEST_F(DialogTest, ResetPutsEveryItemBackAndTheDefaultsIn) {
  SettingsValues values{5, 1, 0x3f, 0x3f, "*.bak", "1/1/2001", "8:00", "10k"};
  DialogItemTemplate copy[kDialogItemCount];
  FarDialogItem items[kDialogItemCount];
  BuildItems(values, copy, items);
  // The user changes every field, and moves the focus.
  for (FarDialogItem& item : items) {
    if ((item.Flags & DIF_HISTORY) == 0) item.Selected = 3;
    item.Focus = 0;
    std::strcpy(item.Data, "typed");
  }
  items[kSizeItem].Focus = 1;
  th::Host.Messages[4] = "label now";

  ResetDialogItems(copy, items);

  FarDialogItem fresh[kDialogItemCount];
  ExpandDialogItems(copy, fresh, kDialogItemCount);
  for (int i = 0; i < kDialogItemCount; ++i) {
    SCOPED_TRACE("item " + std::to_string(i));
    EXPECT_EQ(int{items[i].Type}, int{fresh[i].Type});
    EXPECT_EQ(int{items[i].X1}, int{fresh[i].X1});
    EXPECT_EQ(int{items[i].Y2}, int{fresh[i].Y2});
    EXPECT_EQ(int{items[i].Focus}, i == kMaskItem ? 1 : 0);
    EXPECT_EQ(uint32_t{items[i].Flags}, uint32_t{fresh[i].Flags});
    EXPECT_EQ(int{items[i].DefaultButton}, int{fresh[i].DefaultButton});
    if ((fresh[i].Flags & DIF_HISTORY) != 0) {
      EXPECT_EQ(HistoryOf(items[i]), HistoryOf(fresh[i]));
    } else {
      EXPECT_EQ(StateOf(items[i]), i == kSelectItem ? 1 : 0);
    }
    const std::string text = i == kMaskItem ? "*.*" : TextOf(fresh[i]);
    EXPECT_EQ(TextOf(items[i]), text);
  }
  EXPECT_EQ(TextOf(items[1]), "label now");  // texts fetched anew
  EXPECT_EQ(TextOf(items[kSizeItem]), "");
  EXPECT_EQ(HistoryOf(items[kTimeItem]), "mrl_time");
}

// --- Reading back -------------------------------------------------------------

struct ReadCase {
  const char* Name;
  SettingsValues Loaded;  // what the dialog was filled with
  std::vector<th::DialogAction> User;
  uint32_t ClearFirst, Mode, InAttr, ExAttr;
};

void Apply(const std::vector<th::DialogAction>& actions, FarDialogItem (&items)[kDialogItemCount]) {
  th::Host.Script = actions;
  th::Host.Script.push_back(th::Press(kConfirmItem));
  th::Host.NextAction = 0;
  th::HostDialog(0, -1, -1, 70, 20, "Contents", items, kDialogItemCount);
}

TEST_F(DialogTest, StatesAreReadBack) {
  using th::Radio;
  using th::SetState;
  using th::Toggle;
  const ReadCase cases[] = {
      {"unchanged defaults", test::DefaultSettings(), {}, 0, 0, 0, 0},
      {"deselect chosen", test::DefaultSettings(), {Radio(5)}, 0, 1, 0, 0},
      {"invert chosen", test::DefaultSettings(), {Radio(6)}, 0, 2, 0, 0},
      {"mode 7: all off is invert", {0, 7, 0, 0, "*.*", "", "", ""}, {}, 0, 2, 0, 0},
      {"mode 7, then deselect", {0, 7, 0, 0, "*.*", "", "", ""}, {Radio(5)}, 0, 1, 0, 0},
      {"select and deselect both on", test::DefaultSettings(), {SetState(5, 1)}, 0, 0, 0, 0},
      {"invert is not asked",
       test::DefaultSettings(),
       {SetState(4, 0), SetState(6, 0)},
       0,
       2,
       0,
       0},
      {"clear-first 5 kept", {5, 0, 0, 0, "*.*", "", "", ""}, {}, 5, 0, 0, 0},
      {"clear-first set by the host",
       test::DefaultSettings(),
       {SetState(7, -2)},
       0xfffffffe,
       0,
       0,
       0},
      {"in 0x41 saved 0x1", {0, 0, 0x41, 0, "*.*", "", "", ""}, {}, 0, 0, 0x1, 0},
      {"ex 0xff saved 0x3f", {0, 0, 0, 0xff, "*.*", "", "", ""}, {}, 0, 0, 0, 0x3f},
      {"boxes toggled",
       test::DefaultSettings(),
       {Toggle(21), Toggle(17), Toggle(23), SetState(27, 9)},
       0,
       0,
       0x22,
       0x11},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.Name);
    DialogItemTemplate copy[kDialogItemCount];
    FarDialogItem items[kDialogItemCount];
    BuildItems(c.Loaded, copy, items);
    Apply(c.User, items);
    DialogResult result{};
    ReadDialogItems(items, result);
    EXPECT_EQ(result.Values.ClearFirst, c.ClearFirst);
    EXPECT_EQ(result.Values.Mode, c.Mode);
    EXPECT_EQ(result.Values.InAttr, c.InAttr);
    EXPECT_EQ(result.Values.ExAttr, c.ExAttr);
  }
}

struct TextCase {
  int Item;
  size_t Length;
  size_t Saved;  // characters in the value to save
};

// Saved texts are cut to what loading reads back; the texts of the run stay
// whole.
TEST_F(DialogTest, TextsAreCutForSavingButKeptWholeForTheRun) {
  const TextCase cases[] = {
      {kSizeItem, 0, 0},     {kSizeItem, 63, 63},   {kSizeItem, 64, 63},   {kSizeItem, 70, 63},
      {kTimeItem, 63, 63},   {kTimeItem, 64, 63},   {kTimeItem, 511, 63},  {kDateItem, 127, 127},
      {kDateItem, 128, 127}, {kDateItem, 300, 127}, {kMaskItem, 259, 259}, {kMaskItem, 260, 259},
      {kMaskItem, 511, 259},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE("item " + std::to_string(c.Item) + ", " + std::to_string(c.Length));
    std::string text(c.Length, ' ');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('0' + i % 10);
    DialogItemTemplate copy[kDialogItemCount];
    FarDialogItem items[kDialogItemCount];
    BuildItems(test::DefaultSettings(), copy, items);
    Apply({th::SetText(c.Item, text)}, items);
    DialogResult result{};
    std::memset(&result.Values, 0x5a, sizeof result.Values);
    ReadDialogItems(items, result);
    const SettingsValues& v = result.Values;
    const char* saved = c.Item == kSizeItem   ? v.Size
                        : c.Item == kTimeItem ? v.Time
                        : c.Item == kDateItem ? v.Date
                                              : v.Mask;
    const char* whole = c.Item == kSizeItem   ? result.SizeText
                        : c.Item == kTimeItem ? result.TimeText
                        : c.Item == kDateItem ? result.DateText
                                              : result.Mask;
    EXPECT_EQ(std::string(saved), text.substr(0, c.Saved));
    EXPECT_EQ(std::string(whole), text);
    // The rest of each saved value is zero-filled.
    const size_t capacity = c.Item == kSizeItem   ? sizeof v.Size
                            : c.Item == kTimeItem ? sizeof v.Time
                            : c.Item == kDateItem ? sizeof v.Date
                                                  : sizeof v.Mask;
    for (size_t i = c.Saved; i < capacity; ++i) ASSERT_EQ(saved[i], '\0') << i;
  }
}

TEST_F(DialogTest, AFieldTheHostLeftUnterminatedIsReadAs511Characters) {
  DialogItemTemplate copy[kDialogItemCount];
  FarDialogItem items[kDialogItemCount];
  BuildItems(test::DefaultSettings(), copy, items);
  std::memset(items[kMaskItem].Data, 'm', sizeof items[kMaskItem].Data);
  std::memset(items[kSizeItem].Data, '7', sizeof items[kSizeItem].Data);
  DialogResult result{};
  ReadDialogItems(items, result);
  EXPECT_EQ(std::string(result.Mask), std::string(511, 'm'));
  EXPECT_EQ(std::string(result.SizeText), std::string(511, '7'));
  EXPECT_EQ(std::string(result.Values.Mask), std::string(259, 'm'));
  EXPECT_EQ(std::string(result.Values.Size), std::string(63, '7'));
}

// --- Whole runs ----------------------------------------------------------------

TEST_F(DialogTest, TheHostIsAskedForTheCentredDialogWithItsHelpTopic) {
  th::Host.Script = {th::Press(kConfirmItem)};
  DialogResult result{};
  RunSelectionDialog(test::DefaultSettings(), result);
  ASSERT_EQ(th::Host.Dialogs.size(), 1u);
  th::ExpectSelectionDialogCall(th::Host.Dialogs[0]);
}

struct RunCase {
  const char* Name;
  std::vector<th::DialogAction> Script;
  DialogOutcome Outcome;
  size_t Shown;
};

TEST_F(DialogTest, OnlyTheConfirmButtonConfirmsAndTheResetButtonShowsItAgain) {
  using th::CloseWindow;
  using th::Press;
  const RunCase cases[] = {
      {"confirm", {Press(30)}, DialogOutcome::Confirmed, 1},
      {"cancel", {Press(31)}, DialogOutcome::Abandoned, 1},
      {"closed", {CloseWindow()}, DialogOutcome::Abandoned, 1},
      {"an item that is no button", {Press(2)}, DialogOutcome::Abandoned, 1},
      {"an index past the items", {Press(33)}, DialogOutcome::Abandoned, 1},
      {"reset, confirm", {Press(32), Press(30)}, DialogOutcome::Confirmed, 2},
      {"reset twice, cancel", {Press(32), Press(32), Press(31)}, DialogOutcome::Abandoned, 3},
      {"reset, closed", {Press(32), CloseWindow()}, DialogOutcome::Abandoned, 2},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.Name);
    th::Host.Script = c.Script;
    th::Host.NextAction = 0;
    th::Host.Dialogs.clear();
    DialogResult result{};
    result.Outcome =
        c.Outcome == DialogOutcome::Confirmed ? DialogOutcome::Abandoned : DialogOutcome::Confirmed;
    RunSelectionDialog(test::DefaultSettings(), result);
    EXPECT_EQ(result.Outcome, c.Outcome);
    EXPECT_EQ(th::Host.Dialogs.size(), c.Shown);
    EXPECT_FALSE(th::Host.ScriptRanOut);
  }
}

TEST_F(DialogTest, AConfirmAfterAResetReadsTheDefaultsAndWhatWasTypedSince) {
  SettingsValues loaded{5, 2, 0x3f, 0x3f, "*.bak", "1/1/2001", "8:00", "10k"};
  th::Host.Script = {th::SetText(kSizeItem, "5m"), th::Press(kResetItem),
                     th::SetText(kTimeItem, "12:00"), th::Press(kConfirmItem)};
  DialogResult result{};
  RunSelectionDialog(loaded, result);
  ASSERT_EQ(result.Outcome, DialogOutcome::Confirmed);
  SettingsValues expected = test::DefaultSettings();
  std::strcpy(expected.Time, "12:00");
  test::ExpectSameSettings(result.Values, expected);
  EXPECT_STREQ(result.TimeText, "12:00");
}

}  // namespace
}  // namespace marlit
