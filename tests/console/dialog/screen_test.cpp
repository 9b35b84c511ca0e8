// marlit -i as a person sees it: the real program on a terminal of tmux's
// (a private server for each test), keys typed with send-keys and the screen
// read back with capture-pane.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/lang_file.h"
#include "console/dialog/form.h"
#include "console/dialog/help.h"
#include "support/labels.h"

extern char** environ;

namespace marlit::console {
namespace {

namespace fs = std::filesystem;
using marlit::test::RowName;

// The dialog is 70 by 20, centred on the 80 by 24 terminal.
constexpr int kColumns = 80;
constexpr int kLines = 24;
constexpr int kLeft = (kColumns - 70) / 2;
constexpr int kTop = (kLines - 20) / 2;
// Generous: the program answers in milliseconds, a loaded machine in more.
constexpr auto kDeadline = std::chrono::seconds(20);

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a program with `env` and returns its standard output; status in
// `status`.
std::string Capture(const std::vector<std::string>& args, const std::vector<std::string>& env,
                    int& status, int flags = 0, const std::string& errFile = "/dev/null") {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, static_cast<short>(flags));
  std::vector<std::string> words = args;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::vector<std::string> vars = env;
  std::vector<char*> envp;
  for (std::string& v : vars) envp.push_back(v.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(pipeEnds[1]);
  std::string out;
  if (spawned == 0) {
    char block[4096];
    ssize_t got = 0;
    while ((got = read(pipeEnds[0], block, sizeof block)) != 0) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      out.append(block, static_cast<size_t>(got));
    }
  }
  close(pipeEnds[0]);
  status = -1;
  if (spawned != 0) return out;
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

// The environment of everything a test starts: no outer tmux, a UTF-8
// locale, the test's own folders.
std::vector<std::string> BaseEnvironment(const fs::path& root) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view var(*e);
    if (var.starts_with("TMUX") || var.starts_with("LANG=") || var.starts_with("LC_") ||
        var.starts_with("NO_COLOR=") || var.starts_with("MARLIT_REGISTRY=") ||
        var.starts_with("XDG_STATE_HOME=") || var.starts_with("TZ=")) {
      continue;
    }
    env.emplace_back(var);
  }
  env.push_back("LANG=C.UTF-8");
  env.push_back("TZ=UTC");
  env.push_back("TMUX_TMPDIR=" + root.string());
  return env;
}

// The labels of the dialog as the language file gives them, "&" marks out.
std::vector<std::string> Labels(const char* file, bool cp866) {
  LangFile lang = LoadLangFile(std::string(MARLIT_BIN_DIR) + "/" + file);
  EXPECT_EQ(lang.Error, "") << file;
  for (std::string& text : lang.Messages) {
    if (cp866) text = Cp866ToUtf8(text);
    text = JoinGlyphs(ParseHotkeyText(text).Shown);
  }
  return lang.Messages;
}

// The first topic of a help file beside the program, its lines trimmed at the
// end as the screen shows them.
HelpTopic TopicOf(const char* file, bool cp866) {
  std::string text = ReadFile(fs::path(MARLIT_BIN_DIR) / file);
  if (cp866) text = Cp866ToUtf8(text);
  HelpTopic topic = ExtractHelpTopic(text, "Contents");
  EXPECT_TRUE(topic.Found) << file;
  for (HelpLine& line : topic.Lines) {
    while (!line.Text.empty() && line.Text.back() == ' ') line.Text.pop_back();
  }
  return topic;
}

std::atomic<int> g_servers{0};

class Screen : public ::testing::Test {
 protected:
  fs::path Root;
  fs::path Dir;
  fs::path Store;
  std::string Socket;
  bool Started = false;
  std::vector<std::vector<std::string>> Lines;  // the last capture: rows of cells
  std::string Program = MARLIT_CONSOLE_PROGRAM;

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "mtty-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    Root = pattern;
    Dir = Root / "panel";
    Store = Root / "store.reg";
    fs::create_directory(Dir);
    for (const char* name : {"a.txt", "b.log", "c.log", "d.c"}) std::ofstream(Dir / name) << name;
    Socket = "marlit-" + std::to_string(getpid()) + "-" + std::to_string(g_servers++);
  }

  void TearDown() override {
    StopServer();
    std::error_code ignored;
    fs::remove_all(Root, ignored);
  }

  std::vector<std::string> Environment() const { return BaseEnvironment(Root); }

  std::string Tmux(std::vector<std::string> args, int* status = nullptr) {
    args.insert(args.begin(), {"tmux", "-u", "-L", Socket, "-f", "/dev/null"});
    int got = 0;
    std::string out = Capture(args, Environment(), got);
    if (status != nullptr) *status = got;
    return out;
  }

  void StopServer() {
    if (!Started) return;
    Tmux({"kill-server"});
    Started = false;
    // A server that is still going away keeps its socket for a moment.
    Socket = "marlit-" + std::to_string(getpid()) + "-" + std::to_string(g_servers++);
  }

  // Starts marlit with `args` in a new tmux server, with the variables of
  // `env` set for it; its status, output and error go to files.
  void Start(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
             int columns = kColumns, int lines = kLines) {
    std::string script =
        "export TERM=xterm-256color LANG=C.UTF-8 TZ=UTC HOME=" + Quoted(Root.string()) +
        " MARLIT_REGISTRY=" + Quoted(Store.string()) +
        " XDG_STATE_HOME=" + Quoted((Root / "state").string()) +
        "\nunset LC_ALL LC_CTYPE LC_MESSAGES NO_COLOR\n";
    for (const std::string& var : env) script += "export " + Quoted(var) + "\n";
    for (const char* name : {"status", "out", "err", "pid"}) fs::remove(Root / name);
    const std::string root = Quoted(Root.string());
    script += "stty -g > " + root + "/stty-before\n";
    script += "sh -c 'echo $$ > \"$0\"; exec \"$@\"' " + root + "/pid " + Quoted(Program);
    for (const std::string& arg : args) script += " " + Quoted(arg);
    script += " > " + root + "/out 2> " + root + "/err\n";
    script += "echo $? > " + root + "/status.tmp\n";
    script += "stty -g > " + root + "/stty-after\n";
    script += "mv " + root + "/status.tmp " + root + "/status\n";
    script += "exec sleep 600\n";
    std::ofstream(Root / "run.sh") << script;
    int status = 0;
    Tmux({"new-session", "-d", "-x", std::to_string(columns), "-y", std::to_string(lines),
          "sh " + Quoted((Root / "run.sh").string())},
         &status);
    ASSERT_EQ(status, 0) << "tmux could not start (is it installed?)";
    Started = true;
  }

  void Keys(const std::vector<std::string>& keys) {
    std::vector<std::string> args = {"send-keys"};
    args.insert(args.end(), keys.begin(), keys.end());
    Tmux(args);
  }
  void Type(const std::string& text) { Tmux({"send-keys", "-l", text}); }

  void Grab() {
    Lines.clear();
    const std::string text = Tmux({"capture-pane", "-p"});
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      std::vector<std::string> cells;
      for (const Glyph& g : SplitGlyphs(line)) cells.push_back(g.Bytes);
      Lines.push_back(cells);
    }
  }

  // The screen's text of `count` cells from (row, column).
  std::string Text(int row, int column, int count) const {
    std::string text;
    for (int c = column; c < column + count; ++c) {
      const bool there = row >= 0 && static_cast<size_t>(row) < Lines.size() && c >= 0 &&
                         static_cast<size_t>(c) < Lines[row].size();
      text += there ? Lines[row][c] : " ";
    }
    return text;
  }
  std::string Row(int row) const { return Text(row, 0, kColumns); }
  std::string All() const {
    std::string text;
    for (size_t r = 0; r < Lines.size(); ++r) text += Row(static_cast<int>(r)) + "\n";
    return text;
  }
  // In dialog coordinates.
  std::string At(int row, int column, int count) const {
    return Text(kTop + row, kLeft + column, count);
  }
  std::string Cell(int row, int column) const { return At(row, column, 1); }

  // Polls the screen until `ready` holds; fails the test after the deadline.
  bool WaitFor(const std::function<bool()>& ready, const std::string& what) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (true) {
      Grab();
      if (ready()) return true;
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "the screen never showed " << what << ":\n" << All();
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  bool WaitForText(const std::string& text) {
    return WaitFor([&] { return All().find(text) != std::string::npos; }, "'" + text + "'");
  }
  // The whole frame: tmux may show the screen while it is being drawn.
  bool WaitForDialog() {
    return WaitFor([&] { return Cell(1, 3) == "\u2554" && Cell(18, 66) == "\u255D"; },
                   "the dialog");
  }

  std::pair<int, int> Cursor() {
    int x = -1;
    int y = -1;
    std::istringstream(Tmux({"display-message", "-p", "#{cursor_x} #{cursor_y}"})) >> x >> y;
    return {x, y};
  }
  bool WaitForCursor(int row, int column) {
    return WaitFor(
        [&] { return Cursor() == std::make_pair(kLeft + column, kTop + row); },
        "the cursor at row " + std::to_string(row) + ", column " + std::to_string(column));
  }

  // Waits for the program to end; its exit status as the shell saw it.
  int WaitForExit() {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!fs::exists(Root / "status")) {
      if (std::chrono::steady_clock::now() > end) {
        Grab();
        ADD_FAILURE() << "the program did not end:\n" << All();
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::atoi(ReadFile(Root / "status").c_str());
  }
  std::string Out() const { return ReadFile(Root / "out"); }
  std::string Err() const { return ReadFile(Root / "err"); }

  // Runs marlit without a terminal, as a script would, to store criteria.
  int RunPlain(std::vector<std::string> args) {
    args.insert(args.begin(), MARLIT_CONSOLE_PROGRAM);
    std::vector<std::string> env = Environment();
    env.push_back("MARLIT_REGISTRY=" + Store.string());
    env.push_back("XDG_STATE_HOME=" + (Root / "state").string());
    int status = 0;
    Capture(args, env, status);
    return status;
  }
};

// Where the plug-in's dialog puts its labels, and the message each shows.
struct LabelPlace {
  int Row;
  int Column;
  const char* Before;  // what the item draws before its text
  int Message;
};

constexpr LabelPlace kLabelPlaces[] = {
    {2, 5, "", 4},        {5, 5, "(\u2022) ", 5}, {5, 20, "( ) ", 6},   {5, 35, "( ) ", 7},
    {6, 5, "[ ] ", 8},    {8, 5, "", 16},         {11, 5, "", 18},      {14, 5, "", 17},
    {8, 35, "", 9},       {9, 35, "[ ] ", 10},    {10, 35, "[ ] ", 11}, {11, 35, "[ ] ", 12},
    {9, 50, "[ ] ", 13},  {10, 50, "[ ] ", 14},   {11, 50, "[ ] ", 15}, {12, 35, "", 19},
    {13, 35, "[ ] ", 20}, {14, 35, "[ ] ", 21},   {15, 35, "[ ] ", 22}, {13, 50, "[ ] ", 23},
    {14, 50, "[ ] ", 24}, {15, 50, "[ ] ", 25},
};

void ExpectLabels(const Screen& screen, const std::vector<std::string>& labels,
                  const std::function<std::string(int, int, int)>& at) {
  static_cast<void>(screen);
  for (const LabelPlace& place : kLabelPlaces) {
    const std::string expected = std::string(place.Before) + labels.at(place.Message);
    const int cells = static_cast<int>(SplitGlyphs(expected).size());
    EXPECT_EQ(at(place.Row, place.Column, cells), expected)
        << "row " << place.Row << ", column " << place.Column;
  }
}

TEST_F(Screen, ShowsTheDialogAsThePluginDescribesIt) {
  Start({"-i", Dir.string()});
  ASSERT_TRUE(WaitForDialog());
  // The double frame: columns 3 to 66, rows 1 to 18 of the dialog.
  EXPECT_EQ(Cell(1, 3), "\u2554");
  EXPECT_EQ(Cell(1, 66), "\u2557");
  EXPECT_EQ(Cell(18, 3), "\u255A");
  EXPECT_EQ(Cell(18, 66), "\u255D");
  for (int row = 2; row < 18; ++row) {
    const bool separator = row == 4 || row == 7 || row == 16;
    EXPECT_EQ(Cell(row, 3), separator ? "\u255F" : "\u2551") << row;
    EXPECT_EQ(Cell(row, 66), separator ? "\u2562" : "\u2551") << row;
    if (separator) {
      std::string line;
      for (int c = 4; c < 66; ++c) line += "\u2500";
      EXPECT_EQ(At(row, 4, 62), line) << row;
    }
  }
  // Nothing of the dialog outside the frame but its grey margin.
  EXPECT_EQ(At(0, 0, 70), std::string(70, ' '));
  EXPECT_EQ(At(19, 0, 70), std::string(70, ' '));
  const std::vector<std::string> labels = Labels("marlit_eng.lng", false);
  // The title, centred in the top line.
  const std::string title = " " + labels[3] + " ";
  const std::string top = At(1, 4, 62);
  const size_t at = top.find(title);
  ASSERT_NE(at, std::string::npos) << top;
  const int before = static_cast<int>(SplitGlyphs(top.substr(0, at)).size());
  const int after = 62 - before - static_cast<int>(title.size());
  EXPECT_LE(std::abs(before - after), 1) << top;
  ExpectLabels(*this, labels, [&](int r, int c, int n) { return At(r, c, n); });
  EXPECT_EQ(At(3, 5, 4), "*.* ");
  // Each field with a history has its arrow just past its right end.
  for (const auto& [row, column] : {std::pair{3, 65}, {9, 31}, {12, 31}, {15, 31}}) {
    EXPECT_EQ(Cell(row, column), "\u2193") << row;
    EXPECT_EQ(Cell(row, column - 1), " ") << row;
  }
  // The three buttons centred as one group on row 17, the default one braced.
  const std::string buttons = "{ " + labels[0] + " } [ " + labels[1] + " ] [ " + labels[2] + " ]";
  const std::string row17 = At(17, 0, 70);
  const size_t first = row17.find(buttons);
  ASSERT_NE(first, std::string::npos) << row17;
  const int left = static_cast<int>(SplitGlyphs(row17.substr(0, first)).size());
  const int right = 70 - left - static_cast<int>(buttons.size());
  EXPECT_LE(std::abs(left - right), 1) << row17;
  // The focus starts at the end of the mask.
  EXPECT_TRUE(WaitForCursor(3, 8));
  std::ofstream(Root / "capture.txt") << All();
  Keys({"Escape"});
  EXPECT_EQ(WaitForExit(), 1);
  EXPECT_EQ(Out(), "");
}

TEST_F(Screen, TabAndShiftTabMoveTheFocus) {
  Start({"-i", Dir.string()});
  ASSERT_TRUE(WaitForDialog());
  ASSERT_TRUE(WaitForCursor(3, 8));
  Keys({"Tab"});
  EXPECT_TRUE(WaitForCursor(5, 6));  // in the mark of "(•) Select"
  Keys({"Tab"});
  EXPECT_TRUE(WaitForCursor(5, 21));
  Keys({"BTab"});
  EXPECT_TRUE(WaitForCursor(5, 6));
  Keys({"BTab"});
  EXPECT_TRUE(WaitForCursor(3, 8));
  Keys({"BTab"});
  EXPECT_TRUE(WaitForCursor(17, 41));  // round to "[ Reset ]"
  Keys({"F10"});
  EXPECT_EQ(WaitForExit(), 1);
}

TEST_F(Screen, AConfirmPrintsTheSelectedNames) {
  Start({"-i", Dir.string()});
  ASSERT_TRUE(WaitForDialog());
  Type("*.log");  // replaces the marked "*.*"
  ASSERT_TRUE(WaitFor([&] { return At(3, 5, 6) == "*.log "; }, "the typed mask"));
  Keys({"Enter"});
  EXPECT_EQ(WaitForExit(), 0) << Err();
  EXPECT_EQ(Out(), (Dir / "b.log").string() + "\n" + (Dir / "c.log").string() + "\n");
  EXPECT_NE(ReadFile(Store).find("\"Mask\"=\"*.log\""), std::string::npos) << ReadFile(Store);
  // The screen is gone: the shell's screen is back.
  EXPECT_EQ(Tmux({"display-message", "-p", "#{alternate_on}"}), "0\n");
  EXPECT_EQ(ReadFile(Root / "stty-after"), ReadFile(Root / "stty-before"));
}

TEST_F(Screen, TheOptionsGiveTheStartingValues) {
  Start(
      {"-i", "--mask", "*.c,*.txt", "--size", "..3", "--deselect", "--include", "a", Dir.string()});
  ASSERT_TRUE(WaitForDialog());
  EXPECT_EQ(At(3, 5, 10), "*.c,*.txt ");
  EXPECT_EQ(At(9, 5, 4), "..3 ");
  EXPECT_EQ(At(5, 5, 3), "( )");
  EXPECT_EQ(At(5, 20, 3), "(\u2022)");
  EXPECT_EQ(At(9, 35, 3), "[x]");
  Keys({"M-s"});  // back to select
  ASSERT_TRUE(WaitFor([&] { return At(5, 5, 3) == "(\u2022)"; }, "select picked"));
  Keys({"Enter"});
  EXPECT_EQ(WaitForExit(), 0) << Err();
  EXPECT_EQ(Out(), (Dir / "d.c").string() + "\n");  // a.txt is 5 bytes
}

TEST_F(Screen, AResetRestoresTheDefaultsAndACancelKeepsTheStore) {
  ASSERT_EQ(RunPlain({"--mask", "*.log", "--size", "1k..", "--invert", "--include", "h",
                      "--clear-first", Dir.string()}),
            1);
  const std::string stored = ReadFile(Store);
  ASSERT_NE(stored.find("*.log"), std::string::npos);
  Start({"-i", Dir.string()});  // on the stored values, as the file manager opens it
  ASSERT_TRUE(WaitForDialog());
  EXPECT_EQ(At(3, 5, 6), "*.log ");
  EXPECT_EQ(At(9, 5, 5), "1k.. ");
  EXPECT_EQ(At(5, 35, 3), "(\u2022)");
  EXPECT_EQ(At(6, 5, 3), "[x]");
  EXPECT_EQ(At(11, 35, 3), "[x]");
  ASSERT_TRUE(WaitForCursor(3, 10));
  Keys({"BTab"});
  ASSERT_TRUE(WaitForCursor(17, 41));
  Keys({"Enter"});  // reset
  EXPECT_TRUE(WaitFor(
      [&] {
        return At(3, 5, 4) == "*.* " && At(9, 5, 26) == std::string(26, ' ') &&
               At(5, 5, 3) == "(\u2022)" && At(5, 35, 3) == "( )" && At(6, 5, 3) == "[ ]" &&
               At(11, 35, 3) == "[ ]";
      },
      "the defaults: mask *.*, no size, select, no clearing, no attribute"));
  EXPECT_TRUE(WaitForCursor(3, 8));  // the focus back in the mask
  Keys({"Escape"});
  EXPECT_EQ(WaitForExit(), 1);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(ReadFile(Store), stored);
}

TEST_F(Screen, ACancelAfterEditsChangesNothing) {
  ASSERT_EQ(RunPlain({"--mask", "*.txt", Dir.string()}), 0);
  const std::string stored = ReadFile(Store);
  Start({"-i", "--last", Dir.string()});
  ASSERT_TRUE(WaitForDialog());
  Type("zzz");
  Keys({"M-h"});
  ASSERT_TRUE(
      WaitFor([&] { return At(11, 35, 3) == "[x]" && At(3, 5, 4) == "zzz "; }, "the edits"));
  Keys({"F10"});
  EXPECT_EQ(WaitForExit(), 1);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(ReadFile(Store), stored);
  EXPECT_FALSE(fs::exists(Root / "state" / "marlit" / "history"));
}

TEST_F(Screen, ConfirmedTextsAreOfferedByTheHistory) {
  Start({"-i", Dir.string()});
  ASSERT_TRUE(WaitForDialog());
  Type("*.txt");
  ASSERT_TRUE(WaitFor([&] { return At(3, 5, 6) == "*.txt "; }, "the typed mask"));
  Keys({"Enter"});
  ASSERT_EQ(WaitForExit(), 0) << Err();
  EXPECT_NE(ReadFile(Root / "state" / "marlit" / "history").find("Masks\t*.txt"),
            std::string::npos);
  StopServer();

  // The dialog would open on the stored "*.txt": start from the defaults.
  Start({"-i", "--reset", Dir.string()});
  ASSERT_TRUE(WaitForDialog());
  ASSERT_TRUE(WaitForCursor(3, 8));
  Keys({"C-Down"});
  // The list opens under the field, in a frame of its own.
  ASSERT_TRUE(WaitFor([&] { return At(5, 5, 5) == "*.txt"; }, "the history list"));
  EXPECT_EQ(Cell(4, 4), "\u250C");
  Keys({"Enter"});
  ASSERT_TRUE(WaitFor([&] { return At(3, 5, 6) == "*.txt " && At(5, 5, 3) == "(\u2022)"; },
                      "the entry in the field"));
  Keys({"Enter"});
  EXPECT_EQ(WaitForExit(), 0) << Err();
  EXPECT_EQ(Out(), (Dir / "a.txt").string() + "\n");
}

TEST_F(Screen, F1ShowsTheHelpTopic) {
  Start({"-i", Dir.string()});
  ASSERT_TRUE(WaitForDialog());
  Keys({"F1"});
  const HelpTopic topic = TopicOf("marlit_eng.hlf", false);
  ASSERT_TRUE(WaitForText(topic.Lines.at(0).Text));
  EXPECT_NE(All().find(" " + topic.Title + " "), std::string::npos);
  EXPECT_NE(All().find("Values and ranges"), std::string::npos);
  EXPECT_EQ(All().find('#'), std::string::npos) << All();
  Keys({"NPage"});
  ASSERT_TRUE(WaitFor([&] { return All().find("Values and ranges") == std::string::npos; },
                      "the next page"));
  Keys({"Escape"});
  ASSERT_TRUE(WaitFor([&] { return At(2, 5, 10) == "File mask:"; }, "the dialog again"));
  Keys({"Escape"});
  EXPECT_EQ(WaitForExit(), 1);
}

// A help file that cannot be read is named in the help window.
TEST_F(Screen, F1NamesAMissingHelpFile) {
  const fs::path alone = Root / "alone";
  fs::create_directory(alone);
  for (const char* name : {"marlit", "marlit.so", "marlit-tty.so", "marlit_eng.lng"}) {
    fs::copy_file(fs::path(MARLIT_BIN_DIR) / name, alone / name);
  }
  Program = (alone / "marlit").string();
  Start({"-i", Dir.string()});
  ASSERT_TRUE(WaitForDialog());
  Keys({"F1"});
  ASSERT_TRUE(WaitForText("Cannot read the help file " + (alone / "marlit_eng.hlf").string()));
  Keys({"Escape"});
  ASSERT_TRUE(WaitFor([&] { return At(2, 5, 10) == "File mask:"; }, "the dialog again"));
  Keys({"Escape"});
  EXPECT_EQ(WaitForExit(), 1);
}

TEST_F(Screen, TheRussianLanguageFileGivesTheLabelsAndTheHelp) {
  Start({"-i", Dir.string()}, {"LANG=ru_RU.UTF-8"});
  ASSERT_TRUE(WaitForDialog());
  const std::vector<std::string> labels = Labels("marlit_rus.lng", true);
  ASSERT_TRUE(WaitForText(labels[4]));
  ExpectLabels(*this, labels, [&](int r, int c, int n) { return At(r, c, n); });
  Keys({"F1"});
  const HelpTopic topic = TopicOf("marlit_rus.hlf", true);
  ASSERT_TRUE(WaitForText(topic.Lines.at(0).Text));
  EXPECT_NE(All().find(" " + topic.Title + " "), std::string::npos);
  Keys({"Escape"});
  ASSERT_TRUE(WaitFor([&] { return All().find(topic.Lines.at(0).Text) == std::string::npos; },
                      "the dialog again"));
  ExpectLabels(*this, labels, [&](int r, int c, int n) { return At(r, c, n); });
  Keys({"Escape"});
  EXPECT_EQ(WaitForExit(), 1);
}

TEST_F(Screen, ATerminalTooSmallSaysSoUntilItGrows) {
  Start({"-i", Dir.string()}, {}, 60, 15);
  ASSERT_TRUE(WaitForText("terminal too small: need 70x20"));
  EXPECT_EQ(All().find("\u2554"), std::string::npos);
  Tmux({"resize-window", "-x", std::to_string(kColumns), "-y", std::to_string(kLines)});
  ASSERT_TRUE(WaitForDialog());
  EXPECT_EQ(All().find("too small"), std::string::npos);
  Keys({"Escape"});
  EXPECT_EQ(WaitForExit(), 1);
}

// The colours, as SGR parameters in the captured escape sequences.
struct ColourCase {
  const char* Name;
  std::vector<std::string> Env;
  bool Colours;
};

std::string RowLabel(const ColourCase& c) { return c.Name; }

class Colours : public Screen, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(Colours, FollowNoColor) {
  Start({"-i", Dir.string()}, GetParam().Env);
  ASSERT_TRUE(WaitForDialog());
  const std::string escaped = Tmux({"capture-pane", "-p", "-e"});
  bool colour = false;
  bool reverse = false;
  for (size_t at = escaped.find("\033["); at != std::string::npos;
       at = escaped.find("\033[", at + 2)) {
    const size_t end = escaped.find('m', at);
    if (end == std::string::npos) break;
    std::istringstream params(escaped.substr(at + 2, end - at - 2));
    std::string param;
    while (std::getline(params, param, ';')) {
      const int n = std::atoi(param.c_str());
      colour = colour || (n >= 30 && n <= 38) || (n >= 40 && n <= 48) || (n >= 90 && n <= 97) ||
               (n >= 100 && n <= 107);
      reverse = reverse || n == 7;
    }
  }
  EXPECT_EQ(colour, GetParam().Colours) << escaped;
  // Without colours the marked mask and the focus show in reverse video.
  if (!GetParam().Colours) {
    EXPECT_TRUE(reverse) << escaped;
  }
  Keys({"Escape"});
  EXPECT_EQ(WaitForExit(), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, Colours,
                         ::testing::Values(ColourCase{"Default", {}, true},
                                           ColourCase{"NoColor", {"NO_COLOR=1"}, false},
                                           ColourCase{"EmptyNoColor", {"NO_COLOR="}, true}),
                         RowName());

// A signal while the dialog is up gives the terminal back, then ends the
// program as the signal says.
struct SignalCase {
  const char* Name;
  int Signal;
};

std::string RowLabel(const SignalCase& c) { return c.Name; }

class Signals : public Screen, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(Signals, RestoreTheTerminal) {
  Start({"-i", Dir.string()});
  ASSERT_TRUE(WaitForDialog());
  const pid_t pid = std::atoi(ReadFile(Root / "pid").c_str());
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, GetParam().Signal), 0);
  EXPECT_EQ(WaitForExit(), 128 + GetParam().Signal);
  EXPECT_EQ(ReadFile(Root / "stty-after"), ReadFile(Root / "stty-before"));
  EXPECT_EQ(Tmux({"display-message", "-p", "#{alternate_on}"}), "0\n");
  EXPECT_EQ(Out(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, Signals,
                         ::testing::Values(SignalCase{"Interrupt", SIGINT},
                                           SignalCase{"Terminate", SIGTERM},
                                           SignalCase{"HangUp", SIGHUP}),
                         RowName());

// Without a controlling terminal there is nobody to ask.
TEST(NoTerminal, EndsWithAClearMessage) {
  std::string pattern = (fs::temp_directory_path() / "mtty-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path root = pattern;
  std::vector<std::string> env = BaseEnvironment(root);
  env.push_back("MARLIT_REGISTRY=" + (root / "store.reg").string());
  int status = 0;
  const std::string out = Capture({MARLIT_CONSOLE_PROGRAM, "-i", root.string()}, env, status,
                                  POSIX_SPAWN_SETSID, (root / "err").string());
  const std::string err = ReadFile(root / "err");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("-i needs a terminal"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_FALSE(fs::exists(root / "store.reg"));
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

}  // namespace
}  // namespace marlit::console
