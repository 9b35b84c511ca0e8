// The marlit program run as a user runs it, on directories the tests make:
// its output, its exit status, its memory of the criteria between runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/labels.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using marlit::test::Label;
using marlit::test::RowName;

struct Result {
  int Status = -1;  // exit status, or -1 when the program did not exit
  std::string Out;
  std::string Err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Sets a path's last-write time (and access time) to a UTC calendar time.
void SetTime(const fs::path& path, int year, int month, int day, int hour, int minute, int second,
             long nanoseconds = 0) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  const timespec when{timegm(&t), nanoseconds};
  const timespec times[2] = {when, when};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

void MakeFile(const fs::path& path, size_t size, mode_t mode) {
  WriteFile(path, std::string(size, 'x'));
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

std::vector<std::string> Lines(const std::string& text, char end = '\n') {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at = text.find(end); at != std::string::npos; at = text.find(end, start)) {
    lines.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  EXPECT_EQ(start, text.size()) << "output does not end with its separator";
  return lines;
}

class Program : public ::testing::Test {
 protected:
  fs::path Root;
  fs::path Dir;
  fs::path Store;
  // A command the program runs under, e.g. to drop privileges; empty: none.
  std::vector<std::string> Wrapper;
  std::vector<std::string> MoreEnvironment;  // NAME=VALUE, added to the program's

  void SetUp() override {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/marlit-con-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    Root = pattern;
    Dir = Root / "panel";
    Store = Root / "store.reg";
    fs::create_directory(Dir);
  }

  void TearDown() override {
    // Give back every permission a test took away, then remove it all.
    chmod(Dir.c_str(), 0755);
    for (const auto& entry :
         fs::recursive_directory_iterator(Root, fs::directory_options::skip_permission_denied)) {
      if (entry.is_directory() && !entry.is_symlink()) chmod(entry.path().c_str(), 0755);
    }
    std::error_code ignored;
    fs::remove_all(Root, ignored);
  }

  // The program with its arguments, in a fixed zone (UTC+2), English, its
  // settings in this test's own store. `program` overrides the built one.
  Result Run(std::vector<std::string> args, const std::string& input = "",
             const std::string& program = MARLIT_CONSOLE_PROGRAM) {
    const fs::path in = Root / "stdin", out = Root / "stdout", err = Root / "stderr";
    WriteFile(in, input);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view var(*e);
      if (var.starts_with("TZ=") || var.starts_with("MARLIT_REGISTRY=") ||
          var.starts_with("LANG=") || var.starts_with("LC_")) {
        continue;
      }
      env.emplace_back(var);
    }
    env.push_back("TZ=Etc/GMT-2");
    env.push_back("LANG=C");
    env.push_back("MARLIT_REGISTRY=" + Store.string());
    env.insert(env.end(), MoreEnvironment.begin(), MoreEnvironment.end());
    std::vector<char*> envp;
    for (std::string& var : env) envp.push_back(var.data());
    envp.push_back(nullptr);
    args.insert(args.begin(), program);
    args.insert(args.begin(), Wrapper.begin(), Wrapper.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    Result result;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0) << std::strerror(spawned);
    if (spawned != 0) return result;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.Status = WEXITSTATUS(status);
    result.Out = ReadFile(out);
    result.Err = ReadFile(err);
    return result;
  }

  // A directory of every kind of entry, with set sizes, modes and times.
  // Last writes in UTC; the program runs in UTC+2.
  void MakeSampleDirectory() {
    MakeFile(Dir / ".hidden", 10, 0644);
    SetTime(Dir / ".hidden", 2024, 3, 1, 8, 0, 0);  // local 10:00
    MakeFile(Dir / "B.LOG", 2048, 0644);
    SetTime(Dir / "B.LOG", 2024, 3, 15, 23, 30, 0);  // local 16 March 01:30
    MakeFile(Dir / "a.txt", 100, 0644);
    SetTime(Dir / "a.txt", 2024, 3, 1, 10, 0, 0, 999'999'999);  // local 12:00
    MakeFile(Dir / "c.log", 5000, 0444);
    SetTime(Dir / "c.log", 2023, 12, 31, 12, 0, 0);  // local 14:00
    ASSERT_EQ(symlink("missing", (Dir / "dangling").c_str()), 0);
    SetTime(Dir / "dangling", 2022, 5, 5, 5, 5, 5);  // the link itself: local 07:05:05
    ASSERT_EQ(mkfifo((Dir / "fifo").c_str(), 0644), 0);
    SetTime(Dir / "fifo", 2024, 2, 2, 20, 0, 0);  // local 22:00
    ASSERT_EQ(symlink("a.txt", (Dir / "link").c_str()), 0);
    SetTime(Dir / "link", 2020, 1, 1, 0, 0, 0);  // not seen: the target counts
    MakeFile(Dir / "noext", 0, 0644);
    SetTime(Dir / "noext", 2024, 6, 1, 12, 0, 0);  // local 14:00
    fs::create_directory(Dir / "sub");
    MakeFile(Dir / "sub" / "inner.log", 1, 0644);  // not listed: no recursion
    SetTime(Dir / "sub", 2024, 1, 20, 16, 0, 0);   // local 18:00
    fs::create_directory(Dir / "ro-dir");
    ASSERT_EQ(chmod((Dir / "ro-dir").c_str(), 0555), 0);
    SetTime(Dir / "ro-dir", 2024, 1, 10, 6, 0, 0);  // local 08:00
  }

  std::string Panel() const { return Dir.string(); }

  // Names of the panel's entries, one a line, as the program prints them when
  // given the panel's directory: each after the directory and a '/'.
  std::string InPanel(std::string_view names, char end = '\n') const {
    std::string paths;
    for (size_t at = 0; at < names.size();) {
      const size_t next = names.find(end, at);
      paths += Panel() + "/" + std::string(names.substr(at, next - at)) + end;
      at = next == std::string_view::npos ? names.size() : next + 1;
    }
    return paths;
  }

  // The program and its module copied into `folder` (and with them its
  // language and help files, when asked): a program of its own that any user
  // can run, wherever the build tree lies.
  fs::path CopyOfTheProgram(const fs::path& folder, bool withFiles) const {
    const fs::path built = fs::path(MARLIT_CONSOLE_PROGRAM).parent_path();
    fs::create_directories(folder);
    std::vector<std::string> names = {"marlit", "marlit.so"};
    if (withFiles) {
      names.insert(names.end(),
                   {"marlit_eng.lng", "marlit_rus.lng", "marlit_eng.hlf", "marlit_rus.hlf"});
    }
    for (const std::string& name : names) fs::copy_file(built / name, folder / name);
    return folder / "marlit";
  }

  // The program a user who is not root runs: the built one, or, for root
  // (who reads every directory), a copy in the test's folder run as nobody
  // (the build tree may lie where nobody cannot enter). Empty, with the
  // reason in `why`, when that cannot be arranged here.
  std::string ProgramOfAnOrdinaryUser(std::string& why) {
    if (geteuid() != 0) return MARLIT_CONSOLE_PROGRAM;
    const char* const setpriv = "/usr/bin/setpriv";
    if (access(setpriv, X_OK) != 0) {
      why = "root reads every directory";
      return "";
    }
    Wrapper = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    EXPECT_EQ(chmod(Root.c_str(), 0755), 0);
    const std::string program = CopyOfTheProgram(Root / "bin", true).string();
    if (Run({"--version"}, "", program).Status != 0) {
      why = "nobody cannot run the program here";
      return "";
    }
    return program;
  }
};

const char* const kEverything =
    ".hidden\nB.LOG\na.txt\nc.log\ndangling\nfifo\nlink\nnoext\nro-dir\nsub\n";

struct SelectionCase {
  std::vector<std::string> Args;
  const char* Expected;  // the names, one a line
};

std::string RowLabel(const SelectionCase& c) { return Label(c.Args); }

class Selections : public Program, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selections, PrintTheSelectedNames) {
  MakeSampleDirectory();
  std::vector<std::string> args = GetParam().Args;
  args.push_back(Panel());
  const Result r = Run(args);
  EXPECT_EQ(r.Out, InPanel(GetParam().Expected));
  EXPECT_EQ(r.Status, std::string(GetParam().Expected).empty() ? 1 : 0);
  EXPECT_EQ(r.Err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Criteria, Selections,
    ::testing::Values(
        SelectionCase{{}, kEverything}, SelectionCase{{"--mask", "*.log"}, "B.LOG\nc.log\n"},
        SelectionCase{{"--mask", "*.*"}, kEverything},
        SelectionCase{{"--mask", "*."}, "dangling\nfifo\nlink\nnoext\nro-dir\nsub\n"},
        SelectionCase{{"--mask", "*.*|*.log,.*"},
                      "a.txt\ndangling\nfifo\nlink\nnoext\nro-dir\nsub\n"},
        SelectionCase{{"--mask", "[a-c]*"}, "B.LOG\na.txt\nc.log\n"},
        SelectionCase{{"--mask", "inner.log"}, ""},
        SelectionCase{{"--size", "1k.."}, "B.LOG\nc.log\n"},
        SelectionCase{{"--size", "..100"},
                      ".hidden\na.txt\ndangling\nfifo\nlink\nnoext\nro-dir\nsub\n"},
        SelectionCase{{"--size", "7"}, "dangling\n"},
        SelectionCase{{"--date", "1-3-24"}, ".hidden\na.txt\nlink\n"},
        SelectionCase{{"--date", "16-3-24"}, "B.LOG\n"}, SelectionCase{{"--date", "15-3-24"}, ""},
        SelectionCase{{"--date", "1-1-24..31-3-24"},
                      ".hidden\nB.LOG\na.txt\nfifo\nlink\nro-dir\nsub\n"},
        SelectionCase{{"--date", "..31-12-23"}, "c.log\ndangling\n"},
        SelectionCase{{"--time", "0:00..2:00"}, "B.LOG\n"},
        SelectionCase{{"--time", "14:00"}, "c.log\nnoext\n"},
        SelectionCase{{"--time", "7:05"}, "dangling\n"},
        SelectionCase{{"--include", "a"}, ".hidden\nB.LOG\na.txt\nc.log\nlink\nnoext\n"},
        SelectionCase{{"--include", "readonly"}, "c.log\nro-dir\n"},
        SelectionCase{{"--include", "h"}, ".hidden\n"},
        SelectionCase{{"--include", "system"}, "fifo\n"},
        SelectionCase{{"--include", "d"}, "ro-dir\nsub\n"}, SelectionCase{{"--include", "c"}, ""},
        SelectionCase{{"--include", "h,s"}, ".hidden\nfifo\n"},
        SelectionCase{{"--include", "h", "--include", "s"}, ".hidden\nfifo\n"},
        SelectionCase{{"--exclude", "a"}, "dangling\nfifo\nro-dir\nsub\n"},
        SelectionCase{{"--exclude", "a,h"},
                      "B.LOG\na.txt\nc.log\ndangling\nfifo\nlink\nnoext\nro-dir\nsub\n"},
        SelectionCase{{"--exclude", "d,r"},
                      ".hidden\nB.LOG\na.txt\nc.log\ndangling\nfifo\nlink\nnoext\nsub\n"},
        SelectionCase{{"--mask", "*.log", "--size", "..2k", "--date", "..31-3-24"}, "B.LOG\n"},
        SelectionCase{{"--deselect"}, ""},
        SelectionCase{{"--invert", "--mask", "*.log"}, "B.LOG\nc.log\n"}),
    RowName());

TEST_F(Program, ListsNoEntryOfAnEmptyDirectory) {
  const Result r = Run({Panel()});
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Status, 1);
}

TEST_F(Program, ListsTheCurrentDirectoryByDefault) {
  MakeSampleDirectory();
  // The program starts in the directory the test is in.
  const fs::path before = fs::current_path();
  fs::current_path(Dir);
  const Result r = Run({"--mask", "*.txt"});
  fs::current_path(before);
  EXPECT_EQ(r.Out, "a.txt\n");
  EXPECT_EQ(r.Status, 0);
}

TEST_F(Program, ShowsSizeLocalTimeAndAttributesInTheLongForm) {
  MakeSampleDirectory();
  const fs::path before = fs::current_path();
  fs::current_path(Dir);
  const Result r = Run({"-l"});
  fs::current_path(before);
  EXPECT_EQ(r.Out,
            "          10 2024-03-01 10:00:00 a-h--- .hidden\n"
            "        2048 2024-03-16 01:30:00 a----- B.LOG\n"
            "         100 2024-03-01 12:00:00 a----- a.txt\n"
            "        5000 2023-12-31 14:00:00 ar---- c.log\n"
            "           7 2022-05-05 07:05:05 ------ dangling\n"
            "           0 2024-02-02 22:00:00 ---s-- fifo\n"
            "         100 2024-03-01 12:00:00 a----- link\n"
            "           0 2024-06-01 14:00:00 a----- noext\n"
            "           0 2024-01-10 08:00:00 -r--d- ro-dir\n"
            "           0 2024-01-20 18:00:00 ----d- sub\n");
  EXPECT_EQ(r.Status, 0);
}

TEST_F(Program, SeparatesNamesWithNulOnRequest) {
  MakeSampleDirectory();
  const Result r = Run({"-0", "--mask", "*.log", Panel()});
  EXPECT_EQ(r.Out, InPanel(std::string("B.LOG\0c.log\0", 12), '\0'));
  const Result both = Run({"-0l", "--mask", "a.*", Panel()});
  EXPECT_EQ(both.Out,
            "         100 2024-03-01 12:00:00 a----- " + InPanel(std::string("a.txt\0", 6), '\0'));
}

struct PipelineCase {
  const char* Input;  // the current selection, one name a line
  std::vector<std::string> Args;
  const char* Expected;
};

std::string RowLabel(const PipelineCase& c) { return Label(c.Args); }

class Pipelines : public Program, public ::testing::WithParamInterface<PipelineCase> {};

TEST_P(Pipelines, StartFromTheListedSelection) {
  MakeSampleDirectory();
  std::vector<std::string> args = {"--selected", "-"};
  args.insert(args.end(), GetParam().Args.begin(), GetParam().Args.end());
  args.push_back(Panel());
  const Result r = Run(args, GetParam().Input);
  EXPECT_EQ(r.Out, InPanel(GetParam().Expected));
  EXPECT_EQ(r.Status, std::string(GetParam().Expected).empty() ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, Pipelines,
    ::testing::Values(
        PipelineCase{"a.txt\nc.log\nnoext\n", {"--deselect", "--mask", "*.log"}, "a.txt\nnoext\n"},
        PipelineCase{"a.txt\nnoext\n", {"--invert", "--mask", "a*,c*"}, "c.log\nnoext\n"},
        PipelineCase{"a.txt\nnoext\n", {"--mask", "*.log"}, "B.LOG\na.txt\nc.log\nnoext\n"},
        PipelineCase{"a.txt\nnoext\n", {"--clear-first", "--mask", "*.log"}, "B.LOG\nc.log\n"},
        PipelineCase{"a.txt\nnoext\n", {"--deselect", "--mask", "zzz"}, "a.txt\nnoext\n"},
        PipelineCase{
            "a.txt\n\nnot-there\nsub/inner.log\nA.TXT\n", {"--deselect", "--mask", "x"}, "a.txt\n"},
        PipelineCase{"", {"--deselect"}, ""},
        PipelineCase{"a.txt\nnoext", {"--deselect", "--mask", "a*"}, "noext\n"}),
    RowName());

TEST_F(Program, ChainsInAPipeline) {
  MakeSampleDirectory();
  const Result logs = Run({"--mask", "*.log", Panel()});
  ASSERT_EQ(logs.Out, InPanel("B.LOG\nc.log\n"));
  const Result big = Run({"--selected", "-", "--deselect", "--size", "..2k", Panel()}, logs.Out);
  EXPECT_EQ(big.Out, InPanel("c.log\n"));
  EXPECT_EQ(big.Status, 0);
  const Result none = Run({"--selected", "-", "--deselect", "--size", "..5k", Panel()}, logs.Out);
  EXPECT_EQ(none.Out, "");
  EXPECT_EQ(none.Status, 1);
}

TEST_F(Program, ReadsNulSeparatedSelectionsWithNul) {
  MakeSampleDirectory();
  const Result r = Run({"-0", "--selected", "-", "--deselect", "--mask", "B*", Panel()},
                       std::string("B.LOG\0a.txt\0", 12));
  EXPECT_EQ(r.Out, InPanel(std::string("a.txt\0", 6), '\0'));
}

TEST_F(Program, ReadsTheSelectionFromAFile) {
  MakeSampleDirectory();
  WriteFile(Root / "list", "sub\nfifo\n");
  const Result r = Run({"--selected", (Root / "list").string(), "--deselect", Panel()});
  EXPECT_EQ(r.Status, 1);
  const Result kept =
      Run({"--selected", (Root / "list").string(), "--deselect", "--mask", "f*", Panel()});
  EXPECT_EQ(kept.Out, InPanel("sub\n"));
  const Result missing = Run({"--selected", (Root / "no-list").string(), Panel()});
  EXPECT_EQ(missing.Status, 2);
  EXPECT_NE(missing.Err.find("no-list"), std::string::npos);
}

TEST_F(Program, RemembersTheCriteriaForLast) {
  MakeSampleDirectory();
  EXPECT_EQ(Run({"--mask", "*.log", "--size", "3k..", Panel()}).Out, InPanel("c.log\n"));
  EXPECT_EQ(Run({"--last", Panel()}).Out, InPanel("c.log\n"));
  EXPECT_EQ(Run({"--last", "--size", "", Panel()}).Out, InPanel("B.LOG\nc.log\n"));
  EXPECT_EQ(Run({"--last", "--exclude", "r", Panel()}).Out, InPanel("B.LOG\n"));
  EXPECT_EQ(Run({"--last", "--exclude", "", "--include", "h,d", "--mask", "*", Panel()}).Out,
            InPanel(".hidden\nro-dir\nsub\n"));
  // Without --last every field starts from its default, and that is stored.
  EXPECT_EQ(Run({"--include", "s", Panel()}).Out, InPanel("fifo\n"));
  EXPECT_EQ(Run({"--last", Panel()}).Out, InPanel("fifo\n"));
  EXPECT_EQ(Run({Panel()}).Out, InPanel(kEverything));
  EXPECT_EQ(Run({"--last", Panel()}).Out, InPanel(kEverything));
  // The action and the clear-first switch are remembered too.
  EXPECT_EQ(Run({"--deselect", "--clear-first", Panel()}).Out, "");
  EXPECT_EQ(Run({"--last", "--selected", "-", Panel()}, "a.txt\n").Out, "");
  EXPECT_EQ(
      Run({"--last", "--no-clear-first", "--mask", "x", "--selected", "-", Panel()}, "a.txt\n").Out,
      InPanel("a.txt\n"));
}

TEST_F(Program, KeepsEveryStoredCriterionInItsStore) {
  MakeSampleDirectory();
  Run({"--mask", "*.txt", "--size", "1..2k", "--date", "1-1-24..", "--time", "..12:00", "--include",
       "a", "--exclude", "h", "--invert", "--clear-first", Panel()});
  const std::string store = ReadFile(Store);
  for (const char* value :
       {"\"Mask\"=\"*.txt\"", "\"Size\"=\"1..2k\"", "\"Date\"=\"1-1-24..\"", "\"Time\"=\"..12:00\"",
        "\"InAttr\"=dword:00000001", "\"ExAttr\"=dword:00000004", "\"Mode\"=dword:00000002",
        "\"ClearFirst\"=dword:00000001", "marlit-console\\Plugins\\Marlit"}) {
    EXPECT_NE(store.find(value), std::string::npos) << value << " in\n" << store;
  }
}

TEST_F(Program, PrintsNamesThatAreNotUtf8AsTheyAre) {
  const std::string odd = "caf\xE9 \xFF\xFE.txt";
  MakeFile(Dir / odd, 3, 0644);
  MakeFile(Dir / "plain.dat", 3, 0644);
  const Result r = Run({"--mask", "*.txt", Panel()});
  EXPECT_EQ(r.Out, InPanel(odd + "\n"));
  EXPECT_EQ(r.Status, 0);
  const Result kept =
      Run({"--selected", "-", "--deselect", "--mask", "*.dat", Panel()}, odd + "\n");
  EXPECT_EQ(kept.Out, InPanel(odd + "\n"));
}

TEST_F(Program, ListsAHundredThousandEntries) {
  constexpr int kCount = 100'000;
  for (int i = 0; i < kCount; ++i) {
    const std::string name = (Dir / ("f" + std::to_string(i))).string();
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << name;
    close(fd);
  }
  const Result all = Run({Panel()});
  EXPECT_EQ(all.Status, 0);
  const std::vector<std::string> names = Lines(all.Out);
  ASSERT_EQ(names.size(), static_cast<size_t>(kCount));
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  EXPECT_EQ(names.front(), Panel() + "/f0");
  EXPECT_EQ(names.back(), Panel() + "/f99999");
  const Result sevens = Run({"--mask", "*7", Panel()});
  EXPECT_EQ(Lines(sevens.Out).size(), static_cast<size_t>(kCount / 10));
  const Result piped = Run({"--selected", "-", "--deselect", "--mask", "*[0-8]", Panel()}, all.Out);
  EXPECT_EQ(Lines(piped.Out).size(), static_cast<size_t>(kCount / 10));
}

// Names alike in their first eight bytes in byte order, and a directory of
// more entries than one thread describes at a time.
TEST_F(Program, ListsInByteOrderPastTheFirstBlock) {
  for (const char* name : {"longname-2", "longname-1", "longname-10"}) {
    fs::create_directories(Dir / "names");
    MakeFile(Dir / "names" / name, 0, 0644);
  }
  fs::create_directories(Dir / "many" / "a");
  MakeFile(Dir / "many" / "a" / "x", 0, 0644);
  for (int i = 0; i < 600; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "f%03d", i);
    MakeFile(Dir / "many" / name, i == 599 ? 1 : 0, 0644);
  }
  const fs::path before = fs::current_path();
  fs::current_path(Dir);
  const Result names = Run({"names"});
  const Result empty = Run({"-r", "--size", "0", "many"});
  const Result last = Run({"-rl", "--mask", "f59[89]", "many"});
  fs::current_path(before);
  EXPECT_EQ(names.Out, "names/longname-1\nnames/longname-10\nnames/longname-2\n");
  const std::vector<std::string> lines = Lines(empty.Out);
  ASSERT_EQ(lines.size(), 601u);  // a, a/x and f000 to f598
  EXPECT_EQ(lines.front(), "many/a");
  EXPECT_EQ(lines.back(), "many/f598");
  EXPECT_EQ(Lines(last.Out).size(), 2u);
}

struct FailureCase {
  std::vector<std::string> Args;
  const char* Says;
};

std::string RowLabel(const FailureCase& c) { return Label(c.Args); }

class Failures : public Program, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failures, ExitWithTwoAndOneLine) {
  MakeSampleDirectory();
  std::vector<std::string> args;
  for (const std::string& arg : GetParam().Args) {
    if (arg.starts_with("DIR")) {
      args.push_back(Panel() + arg.substr(3));
    } else if (arg.starts_with("ROOT")) {
      args.push_back(Root.string() + arg.substr(4));
    } else {
      args.push_back(arg);
    }
  }
  const Result r = Run(args);
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find(GetParam().Says), std::string::npos) << r.Err;
  EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, Failures,
    ::testing::Values(FailureCase{{"ROOT/missing"}, "cannot open directory"},
                      FailureCase{{"DIR/a.txt"}, "Not a directory"},
                      FailureCase{{"--bogus", "DIR"}, "unknown option '--bogus'"},
                      FailureCase{{"-z", "DIR"}, "unknown option '-z'"},
                      FailureCase{{"--include", "archive,bold", "DIR"}, "unknown attribute 'bold'"},
                      FailureCase{{"--exclude", "z", "DIR"}, "unknown attribute 'z'"},
                      FailureCase{{"--max-depth", "0", "DIR"}, "'0' is not a whole number"},
                      FailureCase{{"--max-depth=2x", "DIR"}, "'2x' is not a whole number"},
                      FailureCase{{"DIR", "DIR"}, "more than one directory"},
                      FailureCase{{"--plugin", "ROOT/none.so", "DIR"}, "cannot load the plug-in"},
                      FailureCase{{"--plugin", MARLIT_NOT_A_PLUGIN, "DIR"},
                                  "lacks SetStartupInfo"}),
    RowName());

struct TreeCase {
  std::vector<std::string> Args;  // run in the panel's directory
  const char* Expected;
};

std::string RowLabel(const TreeCase& c) { return Label(c.Args); }

class Trees : public Program, public ::testing::WithParamInterface<TreeCase> {};

TEST_P(Trees, PrintPathsInTreeOrder) {
  MakeSampleDirectory();
  MakeFile(Dir / "sub" / "z.log", 1, 0644);
  fs::create_directories(Dir / "sub" / "deeper");
  MakeFile(Dir / "sub" / "deeper" / "x.log", 1, 0644);
  SetTime(Dir / "sub" / "deeper" / "x.log", 2024, 6, 1, 12, 0, 0);  // local 14:00
  const fs::path before = fs::current_path();
  fs::current_path(Dir);
  const Result r = Run(GetParam().Args);
  fs::current_path(before);
  EXPECT_EQ(r.Out, GetParam().Expected);
  EXPECT_EQ(r.Err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Forms, Trees,
    ::testing::Values(
        TreeCase{{"-r", "--mask", "*.log"},
                 "B.LOG\nc.log\nsub/deeper/x.log\nsub/inner.log\nsub/z.log\n"},
        TreeCase{{"-r", "--mask", "*.log", "."},
                 "./B.LOG\n./c.log\n./sub/deeper/x.log\n./sub/inner.log\n./sub/z.log\n"},
        TreeCase{{"--recursive", "--mask", "*.log", "../panel/"},
                 "../panel/B.LOG\n../panel/c.log\n../panel/sub/deeper/x.log\n"
                 "../panel/sub/inner.log\n../panel/sub/z.log\n"},
        TreeCase{{"--mask", "*.log", "sub"}, "sub/inner.log\nsub/z.log\n"},
        TreeCase{{"--max-depth", "2", "--mask", "*.log"},
                 "B.LOG\nc.log\nsub/inner.log\nsub/z.log\n"},
        TreeCase{{"-r", "--skip", "S*", "--mask", "*.log"}, "B.LOG\nc.log\n"},
        TreeCase{{"-r", "--skip", "deeper", "--include", "d"}, "ro-dir\nsub\nsub/deeper\n"},
        TreeCase{{"-rl", "--mask", "x.log", "sub"},
                 "           1 2024-06-01 14:00:00 a----- sub/deeper/x.log\n"}),
    RowName());

TEST_F(Program, TakesBackWhatItPrintedInAPipeline) {
  MakeSampleDirectory();
  const std::string panel = Panel() + "/";
  const Result logs = Run({"-r", "--mask", "*.log", Panel()});
  ASSERT_EQ(logs.Out, InPanel("B.LOG\nc.log\nsub/inner.log\n"));
  const Result big =
      Run({"-r", "--selected", "-", "--deselect", "--size", "..2k", Panel()}, logs.Out);
  EXPECT_EQ(big.Out, InPanel("c.log\n"));
  // Paths with and without the directory; lines that name no entry are
  // counted in one warning.
  const Result mixed =
      Run({"-r", "--selected", "-", "--deselect", "--mask", "x", Panel()},
          "sub/inner.log\n" + panel + "a.txt\nsub\nno/such\n" + panel + "\n\nsub/\n");
  EXPECT_EQ(mixed.Out, InPanel("a.txt\nsub\nsub/inner.log\n"));
  EXPECT_EQ(mixed.Err, "marlit: warning: --selected: 3 lines name no entry, ignored\n");
  EXPECT_EQ(mixed.Status, 0);
}

TEST_F(Program, TakesBackNamesOfEveryByteWithNul) {
  fs::create_directory(Dir / "d");
  for (int byte = 1; byte < 256; ++byte) {
    if (byte != '/') MakeFile(Dir / "d" / (std::string("n") + static_cast<char>(byte)), 0, 0644);
  }
  const Result all = Run({"-r0", Panel()});
  EXPECT_EQ(Lines(all.Out, '\0').size(), 255u);
  const Result back =
      Run({"-r0", "--selected", "-", "--deselect", "--mask", "x", Panel()}, all.Out);
  EXPECT_EQ(back.Out, all.Out);
  EXPECT_EQ(back.Err, "");
}

TEST_F(Program, WarnsOnceOfALinkLoopWithFollow) {
  MakeSampleDirectory();
  ASSERT_EQ(symlink("..", (Dir / "sub" / "up").c_str()), 0);
  const Result r = Run({"-rL", "--mask", "*.log,up", Panel()});
  EXPECT_EQ(r.Out, InPanel("B.LOG\nc.log\nsub/inner.log\nsub/up\n"));
  EXPECT_EQ(r.Err, "marlit: warning: " + Panel() +
                       "/sub/up: leads back to a directory above it, not walked into (a file "
                       "system loop)\n");
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(Run({"-rLq", "--mask", "*.log,up", Panel()}).Err, "");
}

TEST_F(Program, ListsTheRestOfATreeWithAnUnreadableDirectory) {
  std::string why;
  const std::string program = ProgramOfAnOrdinaryUser(why);
  if (program.empty()) GTEST_SKIP() << why;
  MakeSampleDirectory();
  ASSERT_EQ(chmod((Dir / "sub").c_str(), 0), 0);
  // -q: no warning that nobody cannot store the criteria; errors still show.
  const Result r = Run({"-rq", "--include", "d", Panel()}, "", program);
  EXPECT_EQ(r.Out, InPanel("ro-dir\nsub\n"));
  EXPECT_EQ(r.Err, "marlit: " + Panel() + "/sub: cannot read directory: Permission denied\n");
  EXPECT_EQ(r.Status, 2);
}

TEST_F(Program, RefusesAnUnreadableDirectory) {
  std::string why;
  const std::string program = ProgramOfAnOrdinaryUser(why);
  if (program.empty()) GTEST_SKIP() << why;
  MakeSampleDirectory();
  ASSERT_EQ(chmod(Dir.c_str(), 0), 0);
  const Result r = Run({Panel()}, "", program);
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find("cannot open directory"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("Permission denied"), std::string::npos) << r.Err;
  // Names readable, entries not: a selection by name needs only the names
  // (as find's does); one that needs the entries cannot have them.
  ASSERT_EQ(chmod(Dir.c_str(), 0444), 0);
  const Result names = Run({"--mask", "*.log", Panel()}, "", program);
  EXPECT_EQ(names.Status, 0) << names.Err;
  EXPECT_EQ(names.Out, InPanel("B.LOG\nc.log\n"));
  const Result half = Run({"--size", "..1k", Panel()}, "", program);
  EXPECT_EQ(half.Status, 2);
  EXPECT_EQ(half.Out, "");
  EXPECT_NE(half.Err.find("cannot read directory: Permission denied"), std::string::npos)
      << half.Err;
}

// A text longer than the dialog field holds is cut to the field, as typing it
// would be, and the run goes on; one warning line says so.
TEST_F(Program, CutsALongCriterionAndWarns) {
  MakeSampleDirectory();
  const Result r = Run({"--mask", std::string(600, '*'), "--include", "a", Panel()});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, InPanel(".hidden\nB.LOG\na.txt\nc.log\nlink\nnoext\n"));
  EXPECT_NE(r.Err.find("--mask: text of 600 bytes cut to 511"), std::string::npos) << r.Err;
  EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
}

TEST_F(Program, HelpShowsTheAttributeMapping) {
  const Result r = Run({"--help"});
  EXPECT_EQ(r.Status, 0);
  for (const char* line : {"Usage: marlit", "h hidden      the name begins with '.'",
                           "r readonly    the owner has no write permission",
                           "s system      devices, FIFOs and sockets", "Exit status"}) {
    EXPECT_NE(r.Out.find(line), std::string::npos) << line;
  }
}

TEST_F(Program, TellsItsVersion) {
  const Result r = Run({"--version"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "marlit " MARLIT_VERSION "\n");
}

// Installed without its language files, the program still runs, and says
// which file it misses (the dialog would show message numbers). Nor does it
// need the terminal dialog's module, or the terminal libraries, but for -i.
TEST_F(Program, RunsWithoutItsLanguageFilesAndItsTerminalDialog) {
  MakeSampleDirectory();
  const fs::path alone = CopyOfTheProgram(Root / "alone", false);
  const Result r = Run({"--mask", "*.txt", Panel()}, "", alone.string());
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, InPanel("a.txt\n"));
  EXPECT_NE(r.Err.find("marlit: warning: cannot open " + (Root / "share" / "marlit").string() +
                       "/marlit_eng.lng: No such file"),
            std::string::npos)
      << r.Err;
  EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
  EXPECT_EQ(Run({"-q", "--mask", "*.txt", Panel()}, "", alone.string()).Err, "");
  const Result i = Run({"-i", Panel()}, "", alone.string());
  EXPECT_EQ(i.Status, 2);
  EXPECT_NE(i.Err.find("-i cannot load the terminal dialog"), std::string::npos) << i.Err;
  // What the dynamic loader would load with the program (as ldd shows it).
  MoreEnvironment = {"LD_TRACE_LOADED_OBJECTS=1"};
  const Result loaded = Run({Panel()});
  EXPECT_NE(loaded.Out.find("libc.so"), std::string::npos) << loaded.Out;
  EXPECT_EQ(loaded.Out.find("curses"), std::string::npos) << loaded.Out;
  EXPECT_EQ(loaded.Out.find("libtinfo"), std::string::npos) << loaded.Out;
}

// A criterion read in a surprising way gets a warning; the run is the same
// as without it. --explain tells the reading first.
TEST_F(Program, WarnsAndExplainsWithoutChangingTheRun) {
  MakeSampleDirectory();
  const Result zero = Run({"--size", "0", Panel()});
  const Result odd = Run({"--size", "abc", Panel()});
  EXPECT_EQ(odd.Out, zero.Out);
  EXPECT_EQ(odd.Status, zero.Status);
  EXPECT_EQ(odd.Err,
            "marlit: warning: size 'abc': the text does not start with a digit, so it is 0 "
            "bytes\n");
  EXPECT_EQ(Run({"-q", "--size", "abc", Panel()}).Err, "");
  const Result told = Run({"--explain", "--size", "1k..", "--time", "22:00..2:00", Panel()});
  EXPECT_EQ(told.Status, 1);
  EXPECT_EQ(told.Out, "");
  EXPECT_NE(told.Err.find("marlit: size: from 1,024 bytes, no upper bound\nmarlit: date: any\n"),
            std::string::npos)
      << told.Err;
  EXPECT_NE(told.Err.find("marlit: warning: time '22:00..2:00': the lower bound is after"),
            std::string::npos)
      << told.Err;
}

// Criteria that cannot be stored leave the selection as it is, with one
// warning that says where.
struct UnsavedCase {
  const char* Store;     // under the test's folder
  const char* Existing;  // a file put there first, or null
  const char* Says;
};

std::string RowLabel(const UnsavedCase& c) { return Label(c.Store); }

class Unsaved : public Program, public ::testing::WithParamInterface<UnsavedCase> {};

TEST_P(Unsaved, WarnOnceAndStillSelect) {
  MakeSampleDirectory();
  const UnsavedCase& c = GetParam();
  if (c.Existing != nullptr) WriteFile(Root / c.Existing, "not a store\n");
  Store = Root / c.Store;
  const Result r = Run({"--mask", "*.log", Panel()});
  EXPECT_EQ(r.Out, InPanel("B.LOG\nc.log\n"));
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Err, "marlit: warning: the criteria were not saved: " +
                       std::regex_replace(c.Says, std::regex("ROOT"), Root.string()) + "\n");
  if (c.Existing != nullptr) {
    EXPECT_EQ(ReadFile(Root / c.Existing), "not a store\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stores, Unsaved,
    ::testing::Values(UnsavedCase{"notes.txt", "notes.txt",
                                  "ROOT/notes.txt is not a settings file, so it is left alone"},
                      UnsavedCase{"file/sub/store.reg", "file",
                                  "cannot create ROOT/file/sub/store.reg: Not a directory"}),
    RowName());

}  // namespace
