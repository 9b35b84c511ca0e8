// The terminal dialog's parts that need no screen: characters and hotkeys,
// the layout of any item array (the plug-in's own dialog among them), the
// keys, the help topic and the input histories.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/lang_file.h"
#include "console/dialog/answer.h"
#include "console/dialog/form.h"
#include "console/dialog/help.h"
#include "console/dialog/history.h"
#include "support/labels.h"
#include "dialog/dialog.h"
#include "host/module.h"

namespace marlit::console {
namespace {

namespace fs = std::filesystem;
using marlit::test::Label;
using marlit::test::RowName;

// ---- characters and hotkeys

struct GlyphCase {
  std::string Text;
  std::vector<char32_t> Codes;
};

std::string RowLabel(const GlyphCase& c) { return Label(c.Text) + std::to_string(c.Codes.size()); }

class Glyphs : public ::testing::TestWithParam<GlyphCase> {};

TEST_P(Glyphs, SplitTextAndJoinBackToTheSameBytes) {
  const std::vector<Glyph> glyphs = SplitGlyphs(GetParam().Text);
  std::vector<char32_t> codes;
  for (const Glyph& g : glyphs) codes.push_back(g.Code);
  EXPECT_EQ(codes, GetParam().Codes);
  EXPECT_EQ(JoinGlyphs(glyphs), GetParam().Text);
}

constexpr char32_t kBad = kReplacementCharacter;

INSTANTIATE_TEST_SUITE_P(
    Cases, Glyphs,
    ::testing::Values(GlyphCase{"", {}}, GlyphCase{"a*.c", {'a', '*', '.', 'c'}},
                      GlyphCase{"\xD0\x9C\xD0\xB0", {0x41C, 0x430}},           // "Ма"
                      GlyphCase{"\xE2\x80\xA2!", {0x2022, '!'}},               // bullet
                      GlyphCase{"\xF0\x9F\x98\x80", {0x1F600}},                // four bytes
                      GlyphCase{"\x8E\xE2\xA8", {kBad, kBad, kBad}},           // code page 866
                      GlyphCase{"\xC0\xAF", {kBad, kBad}},                     // overlong
                      GlyphCase{"\xED\xA0\x80", {kBad, kBad, kBad}},           // surrogate
                      GlyphCase{"\xE2\x80", {kBad, kBad}},                     // cut short
                      GlyphCase{"\xF4\x90\x80\x80", {kBad, kBad, kBad, kBad}}  // past U+10FFFF
                      ),
    RowName());

struct HotkeyCase {
  const char* Caption;
  const char* Shown;
  int Hotkey;
};

std::string RowLabel(const HotkeyCase& c) { return Label(c.Caption); }

class Hotkeys : public ::testing::TestWithParam<HotkeyCase> {};

TEST_P(Hotkeys, MarkTheLetterAfterTheAmpersand) {
  const HotkeyText caption = ParseHotkeyText(GetParam().Caption);
  EXPECT_EQ(JoinGlyphs(caption.Shown), GetParam().Shown);
  EXPECT_EQ(caption.Hotkey, GetParam().Hotkey);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Hotkeys,
    ::testing::Values(HotkeyCase{"OK", "OK", -1}, HotkeyCase{"&File mask:", "File mask:", 0},
                      HotkeyCase{"Clear c&urrent", "Clear current", 7},
                      HotkeyCase{"Salt && pepper", "Salt & pepper", -1},
                      HotkeyCase{"&&&Both", "&Both", 1}, HotkeyCase{"&One &Two", "One Two", 0},
                      HotkeyCase{"Last&", "Last&", -1},
                      HotkeyCase{"\xD0\x90\xD1\x80&\xD1\x85\xD0\xB8\xD0\xB2",  // "Ар&хив"
                                 "\xD0\x90\xD1\x80\xD1\x85\xD0\xB8\xD0\xB2", 2}),
    RowName());

struct SameKeyCase {
  char32_t A;
  char32_t B;
  bool Same;
};

std::string RowLabel(const SameKeyCase& c) {
  return std::to_string(static_cast<uint32_t>(c.A)) + "_" +
         std::to_string(static_cast<uint32_t>(c.B));
}

class SameHotkeys : public ::testing::TestWithParam<SameKeyCase> {};

TEST_P(SameHotkeys, IgnoreCase) {
  EXPECT_EQ(SameHotkey(GetParam().A, GetParam().B), GetParam().Same);
  EXPECT_EQ(SameHotkey(GetParam().B, GetParam().A), GetParam().Same);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SameHotkeys,
    ::testing::Values(SameKeyCase{'a', 'A', true}, SameKeyCase{'a', 'b', false},
                      SameKeyCase{'1', '1', true}, SameKeyCase{0x445, 0x425, true},   // х Х
                      SameKeyCase{0x451, 0x401, true},                                // ё Ё
                      SameKeyCase{0x445, 'x', false}, SameKeyCase{0xE9, 0xC9, true},  // é É
                      SameKeyCase{0xF7, 0xD7, false}),                                // ÷ ×
    RowName());

// ---- layout

struct GroupCase {
  std::vector<int> Widths;
  int DialogWidth;
  std::vector<int> Columns;
};

std::string RowLabel(const GroupCase& c) {
  std::string label = std::to_string(c.DialogWidth);
  for (const int w : c.Widths) label += "_" + std::to_string(w);
  return label;
}

class CentredGroups : public ::testing::TestWithParam<GroupCase> {};

TEST_P(CentredGroups, StandOneCellApartInTheMiddle) {
  EXPECT_EQ(CenterGroupColumns(GetParam().Widths, GetParam().DialogWidth), GetParam().Columns);
}

INSTANTIATE_TEST_SUITE_P(Cases, CentredGroups,
                         ::testing::Values(GroupCase{{6, 10, 9}, 70, {21, 28, 39}},
                                           GroupCase{{6}, 70, {32}}, GroupCase{{7}, 70, {31}},
                                           GroupCase{{10, 10}, 21, {0, 11}},
                                           GroupCase{{30, 30}, 40, {0, 31}}, GroupCase{{}, 70, {}}),
                         RowName());

FarDialogItem Item(int type, int x1, int y1, int x2, int y2, const char* text, uint32_t flags = 0) {
  FarDialogItem item{};
  item.Type = type;
  item.X1 = x1;
  item.Y1 = y1;
  item.X2 = x2;
  item.Y2 = y2;
  item.Flags = flags;
  std::strcpy(item.Data, text);
  return item;
}

TEST(Layout, PlacesAnyItemsFromTheirRecords) {
  std::vector<FarDialogItem> items = {
      Item(kSingleBoxType, 2, 1, 37, 9, "&Title"),
      Item(DI_TEXT, -1, 2, 0, 0, "Centred"),
      Item(DI_TEXT, 4, 3, 0, 0, "", DIF_SEPARATOR),
      Item(DI_RADIOBUTTON, 4, 4, 0, 0, "&One"),
      Item(DI_RADIOBUTTON, 14, 4, 0, 0, "&Two"),
      Item(DI_CHECKBOX, 4, 5, 0, 0, "&Check"),
      Item(DI_RADIOBUTTON, 4, 6, 0, 0, "&Three"),
      Item(DI_EDIT, 4, 7, 20, 7, "text"),
      Item(DI_TEXT, 0, 10, 0, 0, "", DIF_SEPARATOR),
      Item(DI_BUTTON, 0, 8, 0, 0, "&Go", DIF_CENTERGROUP),
      Item(DI_BUTTON, 30, 8, 0, 0, "Stop"),
      Item(DI_BUTTON, 0, 8, 0, 0, "&Back", DIF_CENTERGROUP),
      Item(99, 1, 1, 1, 1, "unknown"),
  };
  const std::vector<ItemPlace> places =
      LayOutDialog(items.data(), static_cast<int>(items.size()), 40);
  ASSERT_EQ(places.size(), items.size());
  EXPECT_EQ(places[0].Kind, ItemKind::Box);
  EXPECT_FALSE(places[0].Double);
  EXPECT_EQ(places[0].Width, 36);
  EXPECT_EQ(places[0].Bottom, 9);
  EXPECT_EQ(places[1].Column, (40 - 7) / 2);  // X1 -1: centred alone
  EXPECT_EQ(places[2].Kind, ItemKind::Separator);
  EXPECT_EQ(places[2].Column, 2);  // across the box, joined to it
  EXPECT_EQ(places[2].Width, 36);
  EXPECT_TRUE(places[2].JoinsFrame);
  EXPECT_EQ(places[8].Column, 0);  // outside the box: across the dialog
  EXPECT_EQ(places[8].Width, 40);
  EXPECT_FALSE(places[8].JoinsFrame);
  // Runs of consecutive radio buttons are groups.
  EXPECT_EQ(places[3].Group, 3);
  EXPECT_EQ(places[4].Group, 3);
  EXPECT_EQ(places[6].Group, 6);
  EXPECT_EQ(places[5].Width, 4 + 5);  // "[ ] Check"
  EXPECT_EQ(places[7].Width, 17);
  // "[ Go ]" and "[ Back ]" centred together; "Stop" keeps its column.
  EXPECT_EQ(places[9].Width, 6);
  EXPECT_EQ(places[11].Width, 8);
  EXPECT_EQ(places[9].Column, (40 - 15) / 2);
  EXPECT_EQ(places[11].Column, (40 - 15) / 2 + 7);
  EXPECT_EQ(places[10].Column, 30);
  EXPECT_EQ(places[12].Kind, ItemKind::Ignored);
  EXPECT_FALSE(places[12].Focusable);
}

struct FrameCase {
  int X1, Y1, X2, Y2, Columns, Lines;
  DialogFrame Expected;
};

std::string RowLabel(const FrameCase& c) {
  return (c.X1 < 0 ? "centred_" : "placed_") + std::to_string(c.Columns) + "x" +
         std::to_string(c.Lines);
}

class Frames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Frames, CentreOrPlaceTheDialog) {
  const FrameCase& c = GetParam();
  const DialogFrame f = PlaceDialog(c.X1, c.Y1, c.X2, c.Y2, c.Columns, c.Lines);
  EXPECT_EQ(f.Left, c.Expected.Left);
  EXPECT_EQ(f.Top, c.Expected.Top);
  EXPECT_EQ(f.Width, c.Expected.Width);
  EXPECT_EQ(f.Height, c.Expected.Height);
}

INSTANTIATE_TEST_SUITE_P(Cases, Frames,
                         ::testing::Values(FrameCase{-1, -1, 70, 20, 80, 24, {5, 2, 70, 20}},
                                           FrameCase{-1, -1, 70, 20, 70, 20, {0, 0, 70, 20}},
                                           FrameCase{-1, -1, 70, 20, 60, 15, {-5, -2, 70, 20}},
                                           FrameCase{4, 2, 43, 11, 80, 24, {4, 2, 40, 10}}),
                         RowName());

// ---- the plug-in's own dialog, expanded by the plug-in from its template

std::vector<std::string> g_labels;

const char* MARLIT_WINAPI LabelOf(int, int id) {
  return id >= 0 && static_cast<size_t>(id) < g_labels.size() ? g_labels[id].c_str() : "";
}

struct PluginDialog : ::testing::Test {
  DialogItemTemplate Copy[kDialogItemCount];
  FarDialogItem Items[kDialogItemCount];

  void SetUpWith(const char* languageFile, bool cp866) {
    const LangFile file = LoadLangFile(std::string(MARLIT_BIN_DIR) + "/" + languageFile);
    ASSERT_EQ(file.Error, "");
    g_labels = file.Messages;
    if (cp866) {
      for (std::string& text : g_labels) text = Cp866ToUtf8(text);
    }
    StartupInfo = PluginStartupInfo{};
    StartupInfo.GetMsg = LabelOf;
    PrepareDialogTemplate(Copy);
    ResetDialogItems(Copy, Items);
  }
  void SetUp() override { SetUpWith("marlit_eng.lng", false); }
  void TearDown() override { StartupInfo = PluginStartupInfo{}; }

  KeyResult Press(DialogForm& form, DialogKey key, char32_t c = 0) {
    return HandleKey(form, Items, kDialogItemCount, KeyPress{key, c});
  }
};

TEST_F(PluginDialog, LaysOutTheFrameSeparatorsAndButtons) {
  const std::vector<ItemPlace> places = LayOutDialog(Items, kDialogItemCount, 70);
  EXPECT_EQ(places[0].Column, 3);
  EXPECT_EQ(places[0].Column + places[0].Width - 1, 66);
  EXPECT_EQ(places[0].Row, 1);
  EXPECT_EQ(places[0].Bottom, 18);
  EXPECT_TRUE(places[0].Double);
  for (const int separator : {3, 8, 29}) {
    EXPECT_EQ(places[separator].Kind, ItemKind::Separator) << separator;
    EXPECT_EQ(places[separator].Column, 3) << separator;
    EXPECT_EQ(places[separator].Width, 64) << separator;
    EXPECT_TRUE(places[separator].JoinsFrame && places[separator].Double) << separator;
  }
  // "[ OK ] [ Cancel ] [ Reset ]": 27 cells centred in 70.
  EXPECT_EQ(places[kConfirmButton].Column, 21);
  EXPECT_EQ(places[kCancelButton].Column, 28);
  EXPECT_EQ(places[kResetButton].Column, 39);
  for (const int button : {kConfirmButton, kCancelButton, kResetButton}) {
    EXPECT_EQ(places[button].Row, 17);
  }
  EXPECT_EQ(places[kMaskField].Width, 60);
  EXPECT_EQ(places[kSizeField].Width, 26);
  EXPECT_EQ(places[5].Group, 4);
  EXPECT_EQ(places[6].Group, 4);
}

TEST_F(PluginDialog, OpensOnTheMaskWithItsTextMarked) {
  const DialogForm form = OpenForm(Items, kDialogItemCount, 70);
  EXPECT_EQ(form.Focus, kMaskField);
  EXPECT_TRUE(form.Fields[kMaskField].Fresh);
  EXPECT_EQ(JoinGlyphs(form.Fields[kMaskField].Text), "*.*");
  EXPECT_EQ(form.States[4], 1);
}

// Keys pressed one after another on the opened dialog, and the focus, the
// close and what is written back after them.
struct KeysCase {
  const char* Name;
  std::vector<KeyPress> Keys;
  int Focus;   // after the keys
  int Closed;  // the last key's close, -2: none
  const char* Mask;
  std::vector<int> On;  // check boxes and radio buttons on afterwards
};

std::string RowLabel(const KeysCase& c) { return c.Name; }

class DialogKeys : public PluginDialog, public ::testing::WithParamInterface<KeysCase> {};

TEST_P(DialogKeys, MoveToggleEditAndClose) {
  DialogForm form = OpenForm(Items, kDialogItemCount, 70);
  KeyResult last;
  for (const KeyPress& key : GetParam().Keys) last = Press(form, key.Key, key.Char);
  EXPECT_EQ(form.Focus, GetParam().Focus);
  EXPECT_EQ(last.Outcome == KeyOutcome::Close ? last.Closed : -2, GetParam().Closed);
  WriteBack(form, Items, kDialogItemCount);
  EXPECT_STREQ(Items[kMaskField].Data, GetParam().Mask);
  std::vector<int> on;
  for (int i = 0; i < kDialogItemCount; ++i) {
    if ((Items[i].Type == DI_CHECKBOX || Items[i].Type == DI_RADIOBUTTON) && Items[i].Selected != 0)
      on.push_back(i);
  }
  EXPECT_EQ(on, GetParam().On);
  // The history names stay where the plug-in put them.
  EXPECT_STREQ(Items[kMaskField].History, "Masks");
  EXPECT_STREQ(Items[kDateField].History, "mrl_date");
}

using K = DialogKey;
KeyPress P(DialogKey key, char32_t c = 0) { return KeyPress{key, c}; }

INSTANTIATE_TEST_SUITE_P(
    Cases, DialogKeys,
    ::testing::Values(
        KeysCase{"TabToTheRadios", {P(K::Tab)}, 4, -2, "*.*", {4}},
        KeysCase{"BackTabGoesRound", {P(K::BackTab)}, kResetButton, -2, "*.*", {4}},
        KeysCase{"DownFromTheField", {P(K::Down), P(K::Down), P(K::Up)}, 4, -2, "*.*", {4}},
        KeysCase{"TypingReplacesTheMarkedText",
                 {P(K::Character, '*'), P(K::Character, '.'), P(K::Character, 'c')},
                 2,
                 -2,
                 "*.c",
                 {4}},
        KeysCase{"MovingKeepsTheText",
                 {P(K::Home), P(K::Character, 'x'), P(K::End), P(K::Backspace)},
                 2,
                 -2,
                 "x*.",
                 {4}},
        KeysCase{
            "ClearField", {P(K::Right), P(K::ClearField), P(K::Character, 'a')}, 2, -2, "a", {4}},
        KeysCase{
            "SpacePicksARadio", {P(K::Tab), P(K::Tab), P(K::Character, ' ')}, 5, -2, "*.*", {5}},
        KeysCase{"SpaceTogglesTwice",
                 {P(K::Alt, 'u'), P(K::Character, ' '), P(K::Character, ' ')},
                 7,
                 -2,
                 "*.*",
                 {4, 7}},
        KeysCase{"AltHotkeyTogglesABox", {P(K::Alt, 'h')}, 18, -2, "*.*", {4, 18}},
        KeysCase{"AltHotkeyAnyCase", {P(K::Alt, 'H'), P(K::Alt, 'N')}, 25, -2, "*.*", {4, 18, 25}},
        KeysCase{"LetterAloneInAFieldTypes", {P(K::Character, 'h')}, 2, -2, "h", {4}},
        KeysCase{"LetterAloneOutsideAField", {P(K::Tab), P(K::Character, 'i')}, 6, -2, "*.*", {6}},
        KeysCase{
            "LabelHotkeyMovesToItsField", {P(K::Tab), P(K::Alt, 'z')}, kSizeField, -2, "*.*", {4}},
        KeysCase{"PlusAndMinusOnABox",
                 {P(K::Alt, 'a'), P(K::Character, '+'), P(K::Character, '-'), P(K::Character, '+')},
                 16,
                 -2,
                 "*.*",
                 {4, 16}},
        KeysCase{"EnterInAFieldConfirms",
                 {P(K::Character, 'q'), P(K::Enter)},
                 2,
                 kConfirmButton,
                 "q",
                 {4}},
        KeysCase{"EnterOnAButtonPressesIt",
                 {P(K::BackTab), P(K::BackTab), P(K::Enter)},
                 kCancelButton,
                 kCancelButton,
                 "*.*",
                 {4}},
        KeysCase{"SpaceOnAButtonPressesIt",
                 {P(K::BackTab), P(K::Character, ' ')},
                 kResetButton,
                 kResetButton,
                 "*.*",
                 {4}},
        KeysCase{"EscapeCancels", {P(K::Character, 'z'), P(K::Cancel)}, 2, -1, "z", {4}}),
    RowName());

TEST_F(PluginDialog, KeepsAStateItWasNotToldToChange) {
  Items[kClearFirstBox].Selected = 5;
  Items[kFirstExcludeBox].Selected = 7;
  DialogForm form = OpenForm(Items, kDialogItemCount, 70);
  Press(form, K::Alt, 'v');  // exclude archive: off
  WriteBack(form, Items, kDialogItemCount);
  EXPECT_EQ(int{Items[kClearFirstBox].Selected}, 5);
  EXPECT_EQ(int{Items[kFirstExcludeBox].Selected}, 0);
}

TEST_F(PluginDialog, FieldsHoldAtMost511Bytes) {
  DialogForm form = OpenForm(Items, kDialogItemCount, 70);
  Press(form, K::ClearField);
  for (int i = 0; i < 600; ++i) Press(form, K::Character, 'n');
  EXPECT_EQ(form.Fields[kMaskField].Text.size(), 511u);
  Press(form, K::Backspace);
  Press(form, K::Character, 0x416);  // two bytes: 512 would not fit the field
  EXPECT_EQ(JoinGlyphs(form.Fields[kMaskField].Text), std::string(510, 'n'));
  Press(form, K::Character, 'e');
  // The field shows its end: the cursor stays within its 60 cells.
  EXPECT_EQ(form.Fields[kMaskField].Scroll, 511u - 59u);
  Press(form, K::Home);
  EXPECT_EQ(form.Fields[kMaskField].Scroll, 0u);
  WriteBack(form, Items, kDialogItemCount);
  EXPECT_EQ(std::string(Items[kMaskField].Data), std::string(510, 'n') + "e");
}

TEST_F(PluginDialog, AHistoryEntryFillsTheField) {
  DialogForm form = OpenForm(Items, kDialogItemCount, 70);
  EXPECT_EQ(Press(form, K::History).Outcome, KeyOutcome::ShowHistory);
  SetFieldText(form, kMaskField, "*.log");
  EXPECT_FALSE(form.Fields[kMaskField].Fresh);
  Press(form, K::Character, 's');
  WriteBack(form, Items, kDialogItemCount);
  EXPECT_STREQ(Items[kMaskField].Data, "*.logs");
  Press(form, K::Tab);
  EXPECT_EQ(Press(form, K::History).Outcome, KeyOutcome::Stay);  // not a field
  EXPECT_EQ(Press(form, K::Help).Outcome, KeyOutcome::ShowHelp);
}

TEST_F(PluginDialog, RussianHotkeysInEitherCase) {
  SetUpWith("marlit_rus.lng", true);
  DialogForm form = OpenForm(Items, kDialogItemCount, 70);
  Press(form, K::Alt, 0x425);  // Х: "Ар&хивный", include archive
  EXPECT_EQ(form.Focus, kFirstIncludeBox);
  EXPECT_EQ(form.States[kFirstIncludeBox], 1);
  Press(form, K::Character, 0x441);  // с alone: "&Снять", deselect
  EXPECT_EQ(form.Focus, 5);
  EXPECT_EQ(form.States[5], 1);
  EXPECT_EQ(form.States[4], 0);
}

TEST_F(PluginDialog, TheScreenStartsWhereTheCommandLineConfirms) {
  ConsoleOptions options;
  options.Mask = "*.c";
  DialogCall call;
  call.Items = Items;
  call.Count = kDialogItemCount;
  call.Round = 0;
  EXPECT_EQ(PrepareScreenRound(options, call), kResetButton);
  EXPECT_STREQ(Items[kMaskField].Data, "*.*");
  call.Round = 1;
  EXPECT_EQ(PrepareScreenRound(options, call), -1);
  EXPECT_STREQ(Items[kMaskField].Data, "*.c");
  // After the person's own reset the plug-in's defaults are shown as given.
  ResetDialogItems(Copy, Items);
  call.Round = 2;
  EXPECT_EQ(PrepareScreenRound(options, call), -1);
  EXPECT_STREQ(Items[kMaskField].Data, "*.*");
  options.Last = true;
  call.Round = 0;
  EXPECT_EQ(PrepareScreenRound(options, call), -1);
  EXPECT_STREQ(Items[kMaskField].Data, "*.c");
  // -i opens on the stored values, as the file manager does; --reset not.
  options.Last = false;
  options.Interactive = true;
  options.Mask = "*.h";
  EXPECT_EQ(PrepareScreenRound(options, call), -1);
  EXPECT_STREQ(Items[kMaskField].Data, "*.h");
  options.Reset = true;
  EXPECT_EQ(PrepareScreenRound(options, call), kResetButton);
  // Any other dialog is shown as it comes.
  call.Count = 5;
  options.Mask = "*.x";
  EXPECT_EQ(PrepareScreenRound(options, call), -1);
  EXPECT_STREQ(Items[kMaskField].Data, "*.h");
}

// ---- help

std::string Plain(const HelpTopic& topic) {
  std::string text = topic.Title + "|";
  for (const HelpLine& line : topic.Lines) text += line.Text + "|";
  return text;
}

struct HelpCase {
  const char* Name;
  std::string File;
  const char* Topic;
  const char* Expected;  // title|line|line|..., or "" when not found
};

std::string RowLabel(const HelpCase& c) { return c.Name; }

class HelpTopics : public ::testing::TestWithParam<HelpCase> {};

TEST_P(HelpTopics, AreFoundAndStripped) {
  const HelpTopic topic = ExtractHelpTopic(GetParam().File, GetParam().Topic);
  EXPECT_EQ(topic.Found, GetParam().Expected[0] != '\0');
  if (topic.Found) {
    EXPECT_EQ(Plain(topic), GetParam().Expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HelpTopics,
    ::testing::Values(
        HelpCase{"Contents",
                 ".Language=English,English\r\n.PluginContents=Marlit\r\n@Contents\r\n$ #Select "
                 "files#\r\n Text #bold# here\r\n\r\n~Link~@Other@ and ## and ~~\r\n\r\n\r\n",
                 "Contents", "Select files| Text bold here||Link and # and ~|"},
        HelpCase{"StopsAtTheNextTopic", "@One\n$T1\nfirst\n@Two\n$T2\nsecond\n", "Two",
                 "T2|second|"},
        HelpCase{"TopicNamesIgnoreCase", "@One\n$T1\nfirst\n@Two\nsecond", "one", "T1|first|"},
        HelpCase{"Missing", "@One\nfirst\n", "Contents", ""},
        HelpCase{"NoTitle", "@One\n  just text\n@@ not a topic\n", "One",
                 "|  just text|@ not a topic|"},
        HelpCase{"UnclosedMarks", "@A\n#open\n~link\n", "A", "|open|link|"}),
    RowName());

TEST(HelpMarkup, RemembersEmphasisAndCentring) {
  const HelpLine line = StripHelpMarkup("^a #bc# ~d~@T@");
  EXPECT_EQ(line.Text, "a bc d");
  EXPECT_TRUE(line.Centred);
  EXPECT_EQ(line.Emphasis, (std::vector<bool>{false, false, true, true, false, true}));
}

struct WrapCase {
  std::string Text;
  int Width;
  std::vector<std::string> Pieces;
};

std::string RowLabel(const WrapCase& c) { return Label(c.Text) + std::to_string(c.Width); }

class HelpWrap : public ::testing::TestWithParam<WrapCase> {};

TEST_P(HelpWrap, BreaksAtSpacesAndKeepsTheIndent) {
  std::vector<std::string> pieces;
  for (const HelpLine& piece : WrapHelpLine(StripHelpMarkup(GetParam().Text), GetParam().Width)) {
    EXPECT_EQ(piece.Text.size(), piece.Emphasis.size());
    pieces.push_back(piece.Text);
  }
  EXPECT_EQ(pieces, GetParam().Pieces);
}

INSTANTIATE_TEST_SUITE_P(Cases, HelpWrap,
                         ::testing::Values(WrapCase{" short", 10, {" short"}},
                                           WrapCase{" one two three", 8, {" one two", " three"}},
                                           WrapCase{"abcdefghij", 4, {"abcd", "efgh", "ij"}},
                                           WrapCase{"  aa #bb# cc dd", 7, {"  aa bb", "  cc dd"}}),
                         RowName());

TEST(HelpFiles, BothLanguagesHaveTheContentsTopic) {
  for (const char* name : {"marlit_eng.hlf", "marlit_rus.hlf"}) {
    std::ifstream in(std::string(MARLIT_BIN_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const HelpTopic topic = ExtractHelpTopic(Cp866ToUtf8(text.str()), "Contents");
    EXPECT_TRUE(topic.Found) << name;
    EXPECT_FALSE(topic.Title.empty()) << name;
    EXPECT_GT(topic.Lines.size(), 20u) << name;
    for (const HelpLine& line : topic.Lines) {
      EXPECT_EQ(line.Text.find('#'), std::string::npos) << name << ": " << line.Text;
      EXPECT_EQ(line.Text.find('\r'), std::string::npos) << name;
    }
  }
}

// ---- input histories

TEST(HistoryPath, FollowsTheStateDirectory) {
  EXPECT_EQ(HistoryFilePath("/s", "/h"), "/s/marlit/history");
  EXPECT_EQ(HistoryFilePath("relative", "/h"), "/h/.local/state/marlit/history");
  EXPECT_EQ(HistoryFilePath("", "/h"), "/h/.local/state/marlit/history");
  EXPECT_EQ(HistoryFilePath(nullptr, "/h"), "/h/.local/state/marlit/history");
  EXPECT_EQ(HistoryFilePath(nullptr, ""), "");
  EXPECT_EQ(HistoryFilePath(nullptr, nullptr), "");
}

std::vector<std::string> EntriesOf(const HistoryStore& store, const char* name) {
  const std::vector<std::string>* entries = FindHistory(store, name);
  return entries != nullptr ? *entries : std::vector<std::string>{};
}

TEST(History, PutsTheLastUsedFirstWithoutDoubles) {
  HistoryStore store;
  for (const char* text : {"a", "b", "c", "b", "", "d"}) AddToHistory(store, "Masks", text);
  AddToHistory(store, "mrl_size", "1k..");
  EXPECT_EQ(EntriesOf(store, "Masks"), (std::vector<std::string>{"d", "b", "c", "a"}));
  ASSERT_EQ(store.Histories.size(), 2u);
  EXPECT_EQ(store.Histories[0].Name, "mrl_size");  // last used first
  AddToHistory(store, "Masks", "c");
  EXPECT_EQ(store.Histories[0].Name, "Masks");
  EXPECT_EQ(EntriesOf(store, "Masks"), (std::vector<std::string>{"c", "d", "b", "a"}));
}

TEST(History, KeepsItsLimits) {
  HistoryStore store;
  for (int i = 0; i < 30; ++i) AddToHistory(store, "Masks", "m" + std::to_string(i));
  const std::vector<std::string> masks = EntriesOf(store, "Masks");
  ASSERT_EQ(masks.size(), kHistoryEntries);
  EXPECT_EQ(masks.front(), "m29");
  EXPECT_EQ(masks.back(), "m10");
  for (size_t i = 0; i < kHistoryNames + 5; ++i) AddToHistory(store, "h" + std::to_string(i), "x");
  EXPECT_EQ(store.Histories.size(), kHistoryNames);
  EXPECT_TRUE(EntriesOf(store, "Masks").empty());  // the least recently used went
  AddToHistory(store, std::string(kHistoryNameBytes + 1, 'n'), "x");
  AddToHistory(store, "Masks", std::string(kHistoryTextBytes + 1, 't'));
  EXPECT_EQ(FindHistory(store, "Masks"), nullptr);
  AddToHistory(store, "Masks", std::string(kHistoryTextBytes, 't'));
  EXPECT_EQ(EntriesOf(store, "Masks").size(), 1u);
}

TEST(History, FileFormRoundTripsAnyBytes) {
  std::string everyByte;
  for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
  HistoryStore store;
  AddToHistory(store, "Masks", "*.c\t*.h\n\\x41");
  AddToHistory(store, "Masks", everyByte);
  AddToHistory(store, std::string("na\tme\n\\", 7), std::string("\0zero", 5));
  const std::string text = FormatHistory(store);
  EXPECT_EQ(text.rfind(kHistoryHeader, 0), 0u);
  const HistoryStore back = ParseHistory(text);
  ASSERT_EQ(back.Histories.size(), 2u);
  EXPECT_EQ(back.Histories[0].Name, std::string("na\tme\n\\", 7));
  EXPECT_EQ(back.Histories[0].Entries, (std::vector<std::string>{std::string("\0zero", 5)}));
  EXPECT_EQ(EntriesOf(back, "Masks"), (std::vector<std::string>{everyByte, "*.c\t*.h\n\\x41"}));
  EXPECT_EQ(FormatHistory(back), text);
}

struct BadHistoryCase {
  const char* Name;
  std::string Text;
  std::vector<std::string> Masks;
};

std::string RowLabel(const BadHistoryCase& c) { return c.Name; }

class BadHistories : public ::testing::TestWithParam<BadHistoryCase> {};

TEST_P(BadHistories, KeepOnlyWhatParses) {
  EXPECT_EQ(EntriesOf(ParseHistory(GetParam().Text), "Masks"), GetParam().Masks);
}

const std::string kHead = std::string(kHistoryHeader) + "\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, BadHistories,
    ::testing::Values(
        BadHistoryCase{"NoHeader", "Masks\ta\n", {}},
        BadHistoryCase{"OtherHeader", "marlit input history 2\nMasks\ta\n", {}},
        BadHistoryCase{"NoTab", kHead + "Masks a\nMasks\tb", {"b"}},
        BadHistoryCase{
            "BadEscapes", kHead + "Masks\t\\q\nMasks\t\\x4\nMasks\t\\x4g\nMasks\tok\n", {"ok"}},
        BadHistoryCase{"RawControlByte", kHead + "Masks\ta\x01z\nMasks\tb\r\n", {}},
        BadHistoryCase{"EmptyAndDoubles", kHead + "Masks\t\nMasks\ta\nMasks\ta\n", {"a"}},
        BadHistoryCase{"TooLong",
                       kHead + "Masks\t" + std::string(kHistoryTextBytes + 1, 'x') + "\nMasks\ty\n",
                       {"y"}},
        BadHistoryCase{"TooMany",
                       [] {
                         std::string t = kHead;
                         for (int i = 0; i < 25; ++i) t += "Masks\t" + std::to_string(i) + "\n";
                         return t;
                       }(),
                       {"0",  "1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",
                        "10", "11", "12", "13", "14", "15", "16", "17", "18", "19"}}),
    RowName());

struct HistoryFiles : ::testing::Test {
  fs::path Root;
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "marlit-hist-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    Root = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(Root, fs::perms::owner_all, ignored);
    fs::remove_all(Root, ignored);
  }
};

TEST_F(HistoryFiles, AreWrittenWholeAndReadBack) {
  const std::string path = (Root / "state" / "marlit" / "history").string();
  EXPECT_TRUE(LoadHistory(path).Histories.empty());  // none yet
  HistoryStore store;
  AddToHistory(store, "Masks", "*.log");
  std::string error;
  ASSERT_TRUE(SaveHistory(path, store, error)) << error;
  EXPECT_EQ(EntriesOf(LoadHistory(path), "Masks"), (std::vector<std::string>{"*.log"}));
  struct stat facts {};
  ASSERT_EQ(stat((Root / "state" / "marlit").c_str(), &facts), 0);
  EXPECT_EQ(facts.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(path.c_str(), &facts), 0);
  EXPECT_EQ(facts.st_mode & 0777, 0600u);
  AddToHistory(store, "Masks", "*.txt");
  ASSERT_TRUE(SaveHistory(path, store, error)) << error;
  EXPECT_EQ(EntriesOf(LoadHistory(path), "Masks"), (std::vector<std::string>{"*.txt", "*.log"}));
  // Nothing but the file itself is left in its folder.
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(Root / "state" / "marlit")) {
    static_cast<void>(entry);
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

TEST_F(HistoryFiles, AnOversizedOrStrangeFileGivesNoHistory) {
  const fs::path big = Root / "big";
  {
    std::ofstream out(big, std::ios::binary);
    out << kHistoryHeader << "\nMasks\ta\n" << std::string(kHistoryFileBytes, 'x');
  }
  EXPECT_TRUE(LoadHistory(big.string()).Histories.empty());
  EXPECT_TRUE(LoadHistory(Root.string()).Histories.empty());  // a directory
  EXPECT_TRUE(LoadHistory("").Histories.empty());
}

TEST_F(HistoryFiles, SayWhyTheyCannotBeWritten) {
  const fs::path blocker = Root / "file";
  std::ofstream(blocker) << "x";
  HistoryStore store;
  AddToHistory(store, "Masks", "a");
  std::string error;
  EXPECT_FALSE(SaveHistory((blocker / "marlit" / "history").string(), store, error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
  EXPECT_FALSE(SaveHistory("", store, error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace marlit::console
