// The host services of the console host, called as the plug-in calls them,
// and the text forms of its selection.
#include "console/session/session.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "console/cli/selection_io.h"
#include "console/panel/listing.h"
#include "platform/text.h"
#include "support/labels.h"

namespace marlit::console {
namespace {

using marlit::test::Label;
using marlit::test::RowName;

PluginPanelItem Item(const char* name, uint32_t mode = S_IFREG | 0644, uint64_t size = 0,
                     int64_t seconds = 1'709'287'200) {
  PluginPanelItem item{};
  EXPECT_TRUE(FillPanelItem(name, EntryFacts{mode, size, seconds, 0, false}, item));
  return item;
}

std::string Contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char block[4096];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
  std::rewind(file);
  return text;
}

// A window of the given items, all in the listed directory, or below it
// in `directories`.
PanelWindow WindowOf(const std::vector<PluginPanelItem>& items,
                     std::vector<std::string_view> directories = {}) {
  PanelWindow window;
  window.Items.assign(items.begin(), items.end());
  window.Directories = directories.empty() ? std::vector<std::string_view>(items.size(), "")
                                           : std::move(directories);
  window.Gone.assign(items.size(), 0);
  return window;
}

// A session over three items, its output in a temporary file.
struct SessionFixture : ::testing::Test {
  ConsoleOptions Options;
  ConsoleSession Session;
  PanelWindow Window = WindowOf({Item("a"), Item("b"), Item("c")});
  std::FILE* Out = std::tmpfile();

  void SetUp() override {
    ASSERT_NE(Out, nullptr);
    Session.Options = &Options;
    Session.Out = Out;
    Session.CurDir = "/some/dir";
    Session.Window = &Window;
    Window.Items[1].Flags = PPIF_SELECTED;
    TakeSelection(Session);
    g_session = &Session;
  }
  void TearDown() override {
    g_session = nullptr;
    std::fclose(Out);
  }
  std::string Drawn() {
    const std::string text = Contents(Out);
    std::fclose(Out);
    Out = std::tmpfile();
    Session.Out = Out;
    return text;
  }
};

TEST_F(SessionFixture, DescribesTheWholePanel) {
  PanelInfo info{};
  info.PanelType = 5;
  ASSERT_EQ(ConsoleControl(INVALID_HANDLE_VALUE, FCTL_GETPANELINFO, &info), 1);
  EXPECT_EQ(int{info.PanelType}, 0);
  EXPECT_EQ(info.PanelItems, Window.Items.data());
  EXPECT_EQ(int{info.ItemsNumber}, 3);
  ASSERT_EQ(int{info.SelectedItemsNumber}, 1);
  EXPECT_STREQ(info.SelectedItems[0].FindData.cFileName, "b");
  EXPECT_STREQ(info.CurDir, "/some/dir");
  EXPECT_EQ(int{info.Visible}, 1);
}

// The selected items as the plug-in finds them in the record: none, some
// (copies), all (the panel itself).
TEST_F(SessionFixture, HandsTheSelectedItems) {
  struct Row {
    std::vector<uint32_t> Flags;
    std::vector<const char*> Selected;
  };
  const Row rows[] = {
      {{0, 0, 0}, {}},
      {{PPIF_SELECTED, 0, PPIF_SELECTED}, {"a", "c"}},
      {{PPIF_SELECTED, PPIF_SELECTED, PPIF_SELECTED}, {"a", "b", "c"}},
  };
  for (const Row& row : rows) {
    for (size_t i = 0; i < row.Flags.size(); ++i) Window.Items[i].Flags = row.Flags[i];
    TakeSelection(Session);
    PanelInfo info{};
    ASSERT_EQ(ConsoleControl(INVALID_HANDLE_VALUE, FCTL_GETPANELINFO, &info), 1);
    ASSERT_EQ(static_cast<size_t>(info.SelectedItemsNumber), row.Selected.size());
    EXPECT_EQ(info.SelectedItems == nullptr, row.Selected.empty());
    for (size_t i = 0; i < row.Selected.size(); ++i) {
      EXPECT_STREQ(info.SelectedItems[i].FindData.cFileName, row.Selected[i]);
    }
  }
}

TEST_F(SessionFixture, LeavesOutADirectoryTooLongForTheRecord) {
  Session.CurDir = "/" + std::string(300, 'd');
  PanelInfo info{};
  ASSERT_EQ(ConsoleControl(INVALID_HANDLE_VALUE, FCTL_GETPANELINFO, &info), 1);
  EXPECT_STREQ(info.CurDir, "");
}

TEST_F(SessionFixture, RefusesOtherPanelsAndCommands) {
  PanelInfo info{};
  int handle = 0;
  EXPECT_EQ(ConsoleControl(&handle, FCTL_GETPANELINFO, &info), 0);
  EXPECT_EQ(ConsoleControl(INVALID_HANDLE_VALUE, FCTL_GETPANELINFO, nullptr), 0);
  EXPECT_EQ(ConsoleControl(INVALID_HANDLE_VALUE, 99, &info), 0);
}

TEST_F(SessionFixture, PrintsOnlyTheSelectionHandedBack) {
  PanelInfo info{};
  ASSERT_EQ(ConsoleControl(INVALID_HANDLE_VALUE, FCTL_GETPANELINFO, &info), 1);
  info.PanelItems[0].Flags = PPIF_SELECTED;
  info.PanelItems[1].Flags = 0;
  info.PanelItems[2].Flags = PPIF_SELECTED;
  EXPECT_EQ(ConsoleControl(INVALID_HANDLE_VALUE, FCTL_REDRAWPANEL, nullptr), 1);
  EXPECT_EQ(Drawn(), "b\n");  // changed flags alone are no selection
  EXPECT_EQ(ConsoleControl(INVALID_HANDLE_VALUE, FCTL_SETSELECTION, &info), 1);
  EXPECT_EQ(ConsoleControl(INVALID_HANDLE_VALUE, FCTL_REDRAWPANEL, nullptr), 1);
  EXPECT_EQ(Drawn(), "a\nc\n");
  EXPECT_EQ(Session.Redraws, 2);
  EXPECT_EQ(Session.Printed, 3u);  // over all redraws
}

TEST_F(SessionFixture, TakesASelectionFromACopyByIndex) {
  std::vector<PluginPanelItem> copy = {Item("x"), Item("y")};
  copy[0].Flags = PPIF_SELECTED;
  PanelInfo info{};
  info.PanelItems = copy.data();
  info.ItemsNumber = 2;
  ASSERT_EQ(ConsoleControl(INVALID_HANDLE_VALUE, FCTL_SETSELECTION, &info), 1);
  ConsoleControl(INVALID_HANDLE_VALUE, FCTL_REDRAWPANEL, nullptr);
  EXPECT_EQ(Drawn(), "a\n");  // the third item keeps its own state
}

int g_rounds[4];
DialogCall g_lastCall;
int CountingAnswer(const ConsoleOptions&, const DialogCall& call) {
  g_lastCall = call;
  ++g_rounds[call.Round < 3 ? call.Round : 3];
  return call.Round == 0 ? kResetButton : kConfirmButton;
}

TEST_F(SessionFixture, HandsEachDialogCallToTheAnswerer) {
  Session.Answer = CountingAnswer;
  Session.HelpFile = "/opt/marlit/marlit_eng.hlf";
  Session.HistoryFile = "/home/u/.local/state/marlit/history";
  std::vector<FarDialogItem> items(kSelectionDialogItems);
  EXPECT_EQ(ConsoleDialog(0, -1, -1, 70, 20, "Contents", items.data(), 33), kResetButton);
  EXPECT_EQ(ConsoleDialog(0, -1, -1, 70, 20, "Contents", items.data(), 33), kConfirmButton);
  EXPECT_EQ(g_rounds[0], 1);
  EXPECT_EQ(g_rounds[1], 1);
  EXPECT_EQ(g_lastCall.X1, -1);
  EXPECT_EQ(g_lastCall.Y1, -1);
  EXPECT_EQ(g_lastCall.X2, 70);
  EXPECT_EQ(g_lastCall.Y2, 20);
  EXPECT_STREQ(g_lastCall.HelpTopic, "Contents");
  EXPECT_EQ(g_lastCall.Items, items.data());
  EXPECT_EQ(g_lastCall.Count, 33);
  EXPECT_STREQ(g_lastCall.HelpFile, "/opt/marlit/marlit_eng.hlf");
  EXPECT_STREQ(g_lastCall.HistoryFile, "/home/u/.local/state/marlit/history");
  // A dialog without items never reaches the answerer.
  EXPECT_EQ(ConsoleDialog(0, -1, -1, 70, 20, "Contents", items.data(), 0), -1);
  EXPECT_EQ(ConsoleDialog(0, -1, -1, 70, 20, "Contents", nullptr, 33), -1);
  EXPECT_EQ(g_rounds[2], 0);
  // Once confirmed, the dialog of each later window is answered with the
  // confirmed items, without the answerer.
  CopyText(items[kMaskField].Data, kDialogTextSize, "*.txt");
  Session.Confirmed = items;
  std::vector<FarDialogItem> next(kSelectionDialogItems);
  EXPECT_EQ(ConsoleDialog(0, -1, -1, 70, 20, "Contents", next.data(), 33), kConfirmButton);
  EXPECT_STREQ(next[kMaskField].Data, "*.txt");
  EXPECT_EQ(g_rounds[2], 0);
}

// The command line answers the plug-in's dialog only.
TEST_F(SessionFixture, TheCommandLineRefusesOtherDialogs) {
  std::vector<FarDialogItem> items(kSelectionDialogItems);
  for (const int count : {1, 32, 34}) {
    EXPECT_EQ(ConsoleDialog(0, -1, -1, 70, 20, "Contents", items.data(), count), -1) << count;
  }
  Session.DialogRounds = 0;
  EXPECT_EQ(ConsoleDialog(0, -1, -1, 70, 20, "Contents", items.data(), 33), kResetButton);
  EXPECT_EQ(ConsoleDialog(0, -1, -1, 70, 20, "Contents", items.data(), 33), kConfirmButton);
}

const char* TwoMessages(int id) { return id == 0 ? "OK" : id == 3 ? "Marlit" : nullptr; }

TEST_F(SessionFixture, ServesMessagesAndNamesTheMissingOnes) {
  Session.Message = TwoMessages;
  EXPECT_STREQ(ConsoleGetMsg(0, 3), "Marlit");
  const char* missing = ConsoleGetMsg(0, 25);
  EXPECT_STREQ(missing, "<message 25>");
  EXPECT_STREQ(ConsoleGetMsg(0, -4), "<message -4>");
  for (int id = 100; id < 200; ++id) ConsoleGetMsg(0, id);
  EXPECT_EQ(ConsoleGetMsg(0, 25), missing);  // still valid, still the same
  Session.Message = nullptr;
  EXPECT_STREQ(ConsoleGetMsg(0, 0), "<message 0>");
}

TEST(StartupInfo, OffersTheFourServicesAndTheRootKey) {
  const PluginStartupInfo info = MakeStartupInfo("/opt/marlit/marlit.so");
  EXPECT_EQ(int{info.StructSize}, static_cast<int>(sizeof(PluginStartupInfo)));
  EXPECT_STREQ(info.ModuleName, "/opt/marlit/marlit.so");
  EXPECT_STREQ(info.RootKey, "Software\\marlit-console\\Plugins");
  EXPECT_TRUE(info.Dialog == ConsoleDialog);
  EXPECT_TRUE(info.GetMsg == ConsoleGetMsg);
  EXPECT_TRUE(info.Control == ConsoleControl);
  EXPECT_TRUE(info.CmpName != nullptr);
  EXPECT_TRUE(info.Menu == nullptr && info.Message == nullptr && info.Viewer == nullptr);
}

// The listed paths met over windows of `size` items each.
std::string MarkedOverWindows(const std::vector<PluginPanelItem>& items,
                              const std::vector<std::string_view>& directories, std::string text,
                              char separator, std::string_view shown, size_t size,
                              size_t& unnamed) {
  ListedPaths listed;
  ReadListedPaths(std::move(text), separator, shown, listed);
  std::string marked;
  for (size_t first = 0; first < items.size(); first += size) {
    const size_t end = std::min(items.size(), first + size);
    PanelWindow window = WindowOf(
        std::vector<PluginPanelItem>(items.begin() + first, items.begin() + end),
        std::vector<std::string_view>(directories.begin() + first, directories.begin() + end));
    MarkListedPaths(listed, window);
    for (const PluginPanelItem& item : window.Items) {
      marked += (uint32_t{item.Flags} & PPIF_SELECTED) != 0 ? '1' : '0';
    }
  }
  unnamed = UnnamedPaths(listed);
  return marked;
}

TEST(ListedNames, MarkTheNamedItemsOnly) {
  const std::vector<PluginPanelItem> items = {Item(".a"), Item("B"), Item("a"), Item("a b"),
                                              Item("b\xFF")};
  const std::vector<std::string_view> here(items.size(), "");
  size_t unnamed = 0;
  EXPECT_EQ(MarkedOverWindows(items, here, "a\n\nzz\nb\xFF\nB\nA\n", '\n', "", 5, unnamed),
            "01101");
  EXPECT_EQ(unnamed, 2u);
  EXPECT_EQ(MarkedOverWindows(items, here, std::string("a b\0.a", 6), '\0', "", 5, unnamed),
            "10010");
  EXPECT_EQ(unnamed, 0u);
}

// A tree in panel order: a, a/x, a/y, a-b, b, b/c.
std::vector<PluginPanelItem> TreeItems() {
  return {Item("a", S_IFDIR | 0755), Item("x"), Item("y"), Item("a-b"),
          Item("b", S_IFDIR | 0755), Item("c")};
}
const std::vector<std::string_view> kTreeDirectories = {"", "a/", "a/", "", "", "b/"};

struct ListedPathsCase {
  const char* Text;  // lines of --selected, read with "D/" printed before each path
  const char* Marks;
  size_t Unnamed;
};

std::string RowLabel(const ListedPathsCase& c) { return Label(c.Text); }

class ListedPathsTable : public ::testing::TestWithParam<ListedPathsCase> {};

// Whatever windows the tree is shown in.
TEST_P(ListedPathsTable, MarkTheItemsOfATree) {
  for (const size_t size : {1, 2, 4, 6}) {
    size_t unnamed = 0;
    EXPECT_EQ(MarkedOverWindows(TreeItems(), kTreeDirectories, GetParam().Text, '\n', "D/", size,
                                unnamed),
              GetParam().Marks)
        << size;
    EXPECT_EQ(unnamed, GetParam().Unnamed) << size;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ListedPathsTable,
    ::testing::Values(ListedPathsCase{"D/a/y\nb/c\nD/a-b\n", "001101", 0},    // with and without D/
                      ListedPathsCase{"b/c\na\nb/c\na/x\nD/b", "110011", 0},  // any order, twice
                      ListedPathsCase{"x\na/\n/a\nD/\nD\na//x\nd/a\n", "000000", 7},
                      ListedPathsCase{"\n\nD/a/x\n\nzz/c\nb/c/d\n", "010000", 2}),
    RowName());

struct LettersCase {
  uint32_t Attributes;
  const char* Letters;
};

std::string RowLabel(const LettersCase& c) { return Label(c.Letters); }

class Letters : public ::testing::TestWithParam<LettersCase> {};

TEST_P(Letters, FollowTheDialogsOrder) {
  EXPECT_EQ(AttributeLetters(GetParam().Attributes), GetParam().Letters);
}

INSTANTIATE_TEST_SUITE_P(Sets, Letters,
                         ::testing::Values(LettersCase{0, "------"},
                                           LettersCase{FILE_ATTRIBUTE_ARCHIVE, "a-----"},
                                           LettersCase{FILE_ATTRIBUTE_READONLY, "-r----"},
                                           LettersCase{FILE_ATTRIBUTE_HIDDEN, "--h---"},
                                           LettersCase{FILE_ATTRIBUTE_SYSTEM, "---s--"},
                                           LettersCase{FILE_ATTRIBUTE_DIRECTORY, "----d-"},
                                           LettersCase{FILE_ATTRIBUTE_COMPRESSED, "-----c"},
                                           LettersCase{0xFFFFFFFF, "arhsdc"},
                                           LettersCase{0x80, "------"}),
                         RowName());

TEST(LongLines, ShowSizeLocalTimeAttributesAndName) {
  setenv("TZ", "Etc/GMT-2", 1);
  tzset();
  LocalZone zone = OpenLocalZone(kSystemTime, 2);
  EXPECT_EQ(LongLine(Item("a.txt", S_IFREG | 0444, 1234, 1'709'287'200), zone, "a.txt"),
            "        1234 2024-03-01 12:00:00 ar---- a.txt");
  EXPECT_EQ(LongLine(Item(".d", S_IFDIR | 0755, 4096, 0), zone, ".d"),
            "           0 1970-01-01 02:00:00 --h-d- .d");
}

// The local time of each file's own instant, the one the date and time
// criteria test (the same items as the engine's zone rule tests).
TEST(LongLines, ShowTheZoneRulesOfEachStamp) {
  struct Row {
    const char* Zone;
    int64_t Seconds;  // UTC
    const char* When;
  } const rows[] = {
      {"Europe/Berlin", 1'659'132'189, "2022-07-30 00:03:09"},  // CEST
      {"Europe/Berlin", 1'671'147'000, "2022-12-16 00:30:00"},  // CET
      {"Europe/Berlin", 1'711'846'799, "2024-03-31 01:59:59"},
      {"Europe/Berlin", 1'711'846'800, "2024-03-31 03:00:00"},
      {"Europe/Berlin", -773'285'400, "1945-07-01 01:30:00"},
      {"Asia/Kolkata", -837'756'000, "1943-06-16 00:30:00"},  // +6:30
      {"Asia/Kolkata", 1'718'474'400, "2024-06-15 23:30:00"},
  };
  for (const Row& r : rows) {
    setenv("TZ", r.Zone, 1);
    tzset();
    LocalZone zone = OpenLocalZone(kSystemTime, 1);
    EXPECT_EQ(LongLine(Item("f", S_IFREG | 0644, 1, r.Seconds), zone, "f"),
              std::string("           1 ") + r.When + " a----- f")
        << r.Zone << ' ' << r.Seconds;
  }
}

TEST(Output, PrintsMarkedNamesInPanelOrder) {
  const PanelWindow window = WindowOf({Item("a"), Item("b"), Item("c")});
  ConsoleOptions options;
  LocalZone zone = OpenLocalZone(kSystemTime, 0);
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(WriteSelection(out, window, {1, 0, 1}, "", options, zone), 2u);
  EXPECT_EQ(Contents(out), "a\nc\n");
  options.NullSeparated = true;
  std::fclose(out);
  out = std::tmpfile();
  EXPECT_EQ(WriteSelection(out, window, {0, 1, 1}, "", options, zone), 2u);
  EXPECT_EQ(Contents(out), std::string("b\0c\0", 4));
  std::fclose(out);
}

TEST(Output, PrintsPathsOfATreeAfterTheDirectory) {
  const PanelWindow window = WindowOf(TreeItems(), kTreeDirectories);
  ConsoleOptions options;
  LocalZone zone = OpenLocalZone(kSystemTime, 0);
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(WriteSelection(out, window, {1, 0, 1, 1, 0, 1}, "/d/", options, zone), 4u);
  EXPECT_EQ(Contents(out), "/d/a\n/d/a/y\n/d/a-b\n/d/b/c\n");
  std::fclose(out);
}

}  // namespace
}  // namespace marlit::console
