// The whole command, window by window: whatever the number of entries the
// plug-in is shown at once, the output, the messages and the exit status
// are those of one window over the whole tree. Each run is a child process,
// which may drop root's privileges; a tree that changes while it is walked
// shows no entry twice.
#include "console/session/command.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace marlit::console {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int Status = -1;
  std::string Out;
  std::string Err;
  bool operator==(const Outcome&) const = default;
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Command : public ::testing::Test {
 protected:
  fs::path Root;

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "marlit-command-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    Root = pattern;
    ASSERT_EQ(chmod(Root.c_str(), 0755), 0);  // for nobody too
    fs::create_directory(Root / "t");
    // The module and its files where nobody reaches them too: the build
    // folder may lie in a private one.
    fs::create_directory(Root / "bin");
    for (const char* file :
         {"marlit.so", "marlit_eng.lng", "marlit_rus.lng", "marlit_eng.hlf", "marlit_rus.hlf"}) {
      fs::copy_file(fs::path(MARLIT_BIN_DIR) / file, Root / "bin" / file);
    }
  }
  void TearDown() override {
    const std::string command =
        "chmod -R u+rwx '" + Root.string() + "'; rm -rf '" + Root.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  void Make(const std::vector<std::string>& entries) {
    for (const std::string& entry : entries) {
      const fs::path path = Root / "t" / entry;
      if (entry.ends_with('/')) {
        fs::create_directories(path);
        continue;
      }
      fs::create_directories(path.parent_path());
      std::ofstream(path) << entry;
    }
  }

  // Runs marlit with `args` and the tree's directory, `window` entries at a
  // time, in a child process (as nobody when `unprivileged`). Skipped runs
  // have status -1.
  Outcome Run(std::vector<std::string> args, size_t window, bool unprivileged = false) {
    args.insert(args.begin(), "marlit");
    args.push_back((Root / "t").string());
    const fs::path out = Root / "out", err = Root / "err";
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      CommandStreams streams;
      streams.Out = std::fopen(out.c_str(), "w");
      streams.Err = std::fopen(err.c_str(), "w");
      if (unprivileged && geteuid() == 0 &&
          (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
           setresuid(65534, 65534, 65534) != 0)) {
        _exit(99);
      }
      setenv("MARLIT_REGISTRY", (Root / "store.reg").c_str(), 1);
      setenv("TZ", "UTC", 1);
      std::vector<const char*> argv;
      for (const std::string& arg : args) argv.push_back(arg.c_str());
      streams.WindowEntries = window;
      const std::string bin = (Root / "bin").string();
      streams.ProgramDirectory = bin.c_str();
      const int status = RunCommand(static_cast<int>(argv.size()), argv.data(), streams);
      std::fclose(streams.Out);
      std::fclose(streams.Err);
      _exit(status);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 99) return Outcome{};
    return Outcome{WEXITSTATUS(status), Slurp(out), Slurp(err)};
  }
};

const std::vector<std::string> kTree = {
    ".git/objects/x", "a/.hidden/h.log",           "a/b/c/deep.txt", "a/b/f.log", "a/b2/",
    "a-b.txt",        "node_modules/pkg/index.js", "z.txt",          "zz/1.log",  "zz/2.log",
    "zz/3/4.txt"};

// Every row in windows of 1, 7 and 64 entries: as in one window.
TEST_F(Command, ShowsTheTreeInWindowsAsInOne) {
  Make(kTree);
  ASSERT_EQ(symlink("..", (Root / "t" / "zz" / "up").c_str()), 0);
  const std::string listed = (Root / "listed").string();
  std::ofstream(listed) << "a/b\nz.txt\nnone\n" << (Root / "t").string() << "/zz/3/4.txt\n";
  const std::vector<std::vector<std::string>> rows = {
      {"-r"},
      {"-r", "--max-depth", "2", "--include", "d"},
      {"-r", "--skip", ".git,node_modules", "--mask", "*.log;*.js"},
      {"-rL", "--explain", "--mask", "*.txt|z*"},
      {"-rl", "--mask", "*.log", "--size", "1.."},
      {"-r", "--selected", listed, "--invert", "--mask", "*.txt"},
      {"-r", "--selected", listed, "--clear-first", "--include", "d"},
      {"-rl0", "--selected", listed, "--deselect", "--mask", "a*"},
  };
  for (const auto& row : rows) {
    const Outcome whole = Run(row, size_t{1} << 20);
    ASSERT_NE(whole.Status, -1);
    EXPECT_NE(whole.Out + whole.Err, "") << row[0] << " " << row[1];
    for (const size_t window : {1, 7, 64}) {
      EXPECT_EQ(Run(row, window), whole) << row[0] << " " << row[1] << ", windows of " << window;
    }
  }
}

// Warnings of the walk where it meets them, then the count of --selected
// lines that name nothing, what --explain tells and the entries that could
// not be described: in every window size.
TEST_F(Command, TellsInTheOrderOfOneWindow) {
  Make({"open/x", "shut/inside", "names-only/y", "names-only/y2", "z/"});
  for (int i = 0; i < 40; ++i) Make({"z/f" + std::to_string(i)});
  ASSERT_EQ(chmod((Root / "t" / "shut").c_str(), 0), 0);
  ASSERT_EQ(chmod((Root / "t" / "names-only").c_str(), 0444), 0);
  const std::string listed = (Root / "listed").string();
  std::ofstream(listed) << "gone\nz/f7\n";
  ASSERT_EQ(chmod(listed.c_str(), 0644), 0);
  const std::vector<std::string> args = {"-r",     "--explain", "--size",     "0..",
                                         "--mask", "y*,f*",     "--selected", listed};
  const Outcome whole = Run(args, size_t{1} << 20, true);
  if (whole.Status == -1) GTEST_SKIP() << "root reads every directory, and cannot become nobody";
  const std::string t = (Root / "t").string();
  EXPECT_EQ(whole.Status, 2);
  EXPECT_EQ(whole.Err.substr(0, whole.Err.find("marlit: mask")),
            "marlit: " + t +
                "/shut: cannot read directory: Permission denied\n"
                "marlit: warning: --selected: 1 line names no entry, ignored\n");
  EXPECT_NE(whole.Err.find("marlit: size: from 0 bytes, no upper bound\n"), std::string::npos);
  EXPECT_NE(whole.Err.find("marlit: " + t +
                           "/names-only: cannot read directory: Permission "
                           "denied\n"),
            std::string::npos);
  for (const size_t window : {1, 7, 64}) {
    EXPECT_EQ(Run(args, window, true), whole) << "windows of " << window;
  }
}

// Files removed and added while the tree is walked: the walk goes on, and no
// path is printed twice.
TEST_F(Command, KeepsGoingWhileTheTreeChanges) {
  for (int d = 0; d < 20; ++d) {
    for (int f = 0; f < 60; ++f) Make({"d" + std::to_string(d) + "/f" + std::to_string(f)});
  }
  // The changes come from a process of their own, so that every run is
  // forked from a process of one thread.
  std::fflush(nullptr);
  const pid_t changer = fork();
  if (changer == 0) {
    for (int round = 0;; ++round) {
      for (int d = 0; d < 20; ++d) {
        const fs::path dir = Root / "t" / ("d" + std::to_string(d));
        std::error_code ignored;
        fs::remove(dir / ("f" + std::to_string(round % 60)), ignored);
        std::ofstream(dir / ("new" + std::to_string(round))) << "x";
      }
    }
  }
  std::vector<Outcome> runs;
  for (const size_t window : {1, 7, 64}) runs.push_back(Run({"-r", "--size", "0.."}, window));
  kill(changer, SIGKILL);
  waitpid(changer, nullptr, 0);
  for (const Outcome& run : runs) {
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    std::istringstream lines(run.Out);
    std::set<std::string> seen;
    for (std::string line; std::getline(lines, line);) {
      EXPECT_TRUE(seen.insert(line).second) << line << " printed twice";
    }
    EXPECT_GE(seen.size(), 20u);
  }
}

}  // namespace
}  // namespace marlit::console
