// The walk below a directory, window by window: tree order, depth limits,
// skipped and linked directories, a link loop, unreadable directories (as a
// user other than root), paths longer than the kernel takes, names of every
// byte, other file systems; the same listing whatever the size of the windows
// and whatever the entries described. Each walk runs in a child process,
// which may drop its privileges or the number of files it may open, and
// hands back what it printed: its warnings, then the listed paths and the
// count of problems.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "console/panel/listing.h"
#include "support/labels.h"
#include "support/wildcard.h"

namespace marlit::console {
namespace {

namespace fs = std::filesystem;
using marlit::test::Label;
using marlit::test::RowName;
using marlit::test::TestCmpName;

constexpr int kSkipExit = 77;

struct ChildRun {
  bool Skipped = false;
  std::string Text;
};

// Lists in a child process, `window` entries at a time, describing what
// `rule` asks for: unprivileged drops root's privileges to nobody's, files
// limits the descriptors it may open and the walk to one thread (0: as it
// is).
ChildRun ListInChild(const ListingRequest& request, size_t window = kWindowEntries,
                     const DescribeRule& rule = {}, bool unprivileged = false, rlim_t files = 0) {
  int ends[2];
  if (pipe(ends) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    dup2(ends[1], STDOUT_FILENO);
    dup2(ends[1], STDERR_FILENO);
    const rlimit limit{files, files};
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    if (files != 0 &&
        (setrlimit(RLIMIT_NOFILE, &limit) != 0 || sched_setaffinity(0, sizeof one, &one) != 0)) {
      _exit(kSkipExit);
    }
    if (unprivileged && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
         setresuid(65534, 65534, 65534) != 0)) {
      _exit(kSkipExit);
    }
    ListingRequest asked = request;
    asked.Match = TestCmpName;
    TreeListing listing;
    std::string error;
    if (!OpenListing(asked, listing, error)) {
      std::printf("error: %s\n", error.c_str());
    } else {
      DescribeFor(listing, rule);
      PanelWindow panel;
      std::string text;
      while (NextWindow(listing, panel, window)) {
        if (panel.Items.size() > window) std::printf("window of %zu\n", panel.Items.size());
        for (size_t i = 0; i < panel.Items.size(); ++i) {
          if (panel.Gone[i] != 0) text += "gone ";
          AppendPath(text, panel, i);
          text += '\n';
        }
      }
      std::fwrite(text.data(), 1, text.size(), stdout);
      std::printf("problems %d\n", listing.Problems);
    }
    std::fflush(stdout);
    _exit(0);
  }
  close(ends[1]);
  ChildRun run;
  char block[65536];
  for (ssize_t got; (got = read(ends[0], block, sizeof block)) > 0;) run.Text.append(block, got);
  close(ends[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.Skipped = WIFEXITED(status) && WEXITSTATUS(status) == kSkipExit;
  EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || run.Skipped)) << run.Text;
  return run;
}

class Walk : public ::testing::Test {
 protected:
  fs::path Root;

  void SetUp() override {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/marlit-tree-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    Root = pattern;
    ASSERT_EQ(chmod(Root.c_str(), 0755), 0);  // for nobody too
  }

  // rm takes paths of any length, as std::filesystem does not.
  void TearDown() override {
    const std::string command =
        "chmod -R u+rwx '" + Root.string() + "' 2>/dev/null; rm -rf '" + Root.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  // Makes entries below Root: "d/" a directory, "l>t" a link to t, else a file.
  void Make(const std::vector<std::string>& entries) {
    for (const std::string& entry : entries) {
      const size_t arrow = entry.find('>');
      if (arrow != std::string::npos) {
        fs::create_directories((Root / entry.substr(0, arrow)).parent_path());
        fs::create_directory_symlink(entry.substr(arrow + 1), Root / entry.substr(0, arrow));
      } else if (entry.ends_with('/')) {
        fs::create_directories(Root / entry);
      } else {
        fs::create_directories((Root / entry).parent_path());
        const int fd = open((Root / entry).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0) << entry;
        close(fd);
      }
    }
  }

  ListingRequest Request(uint32_t maxDepth = 0, uint32_t flags = 0) const {
    ListingRequest request;
    request.Directory = Root.c_str();
    request.MaxDepth = maxDepth;
    request.Flags = flags;
    return request;
  }
};

const std::vector<std::string> kSample = {
    ".git/objects/x", "a/.hidden/h.log", "a/b/c/deep.txt",    "a/b/f.log",
    "ln>a",           "loop>.",          "node_modules/pkg/", "z.txt"};

struct WalkCase {
  const char* Name;
  uint32_t MaxDepth;
  uint32_t Flags;
  std::vector<std::string> Skip;
  const char* Printed;  // warnings, the paths, the problems
};

std::string RowLabel(const WalkCase& c) { return Label(c.Name); }

class Walks : public Walk, public ::testing::WithParamInterface<WalkCase> {};

// In windows of any size, the entries described or not: the same tree.
TEST_P(Walks, ListTheTreeInOrder) {
  Make(kSample);
  ListingRequest request = Request(GetParam().MaxDepth, GetParam().Flags);
  request.Skip = GetParam().Skip;
  const DescribeRule every{DescribeWhat::Every, ""};
  for (const size_t window : {size_t{1}, size_t{7}, size_t{64}, kWindowEntries}) {
    EXPECT_EQ(ListInChild(request, window).Text, GetParam().Printed) << window;
    EXPECT_EQ(ListInChild(request, window, every).Text, GetParam().Printed) << window;
  }
}

#define ALL_OF_A "a\na/.hidden\na/.hidden/h.log\na/b\na/b/c\na/b/c/deep.txt\na/b/f.log\n"
#define ALL_OF_LN "ln\nln/.hidden\nln/.hidden/h.log\nln/b\nln/b/c\nln/b/c/deep.txt\nln/b/f.log\n"

INSTANTIATE_TEST_SUITE_P(
    Sample, Walks,
    ::testing::Values(
        WalkCase{"depth 1", 1, 0, {}, ".git\na\nln\nloop\nnode_modules\nz.txt\nproblems 0\n"},
        WalkCase{"depth 2",
                 2,
                 0,
                 {},
                 ".git\n.git/objects\na\na/.hidden\na/b\nln\nloop\nnode_modules\nnode_modules/"
                 "pkg\nz.txt\nproblems 0\n"},
        WalkCase{"any depth",
                 0,
                 0,
                 {},
                 ".git\n.git/objects\n.git/objects/x\n" ALL_OF_A
                 "ln\nloop\nnode_modules\nnode_modules/pkg\nz.txt\nproblems 0\n"},
        WalkCase{"skip",
                 0,
                 0,
                 {".git,node_modules"},
                 ".git\n" ALL_OF_A "ln\nloop\nnode_modules\nz.txt\nproblems 0\n"},
        WalkCase{"skip twice",
                 0,
                 0,
                 {"*.GIT", "b"},
                 ".git\na\na/.hidden\na/.hidden/h.log\na/b\nln\nloop\nnode_modules\nnode_"
                 "modules/pkg\nz.txt\nproblems 0\n"},
        WalkCase{
            "follow",
            0,
            kWalkFollowLinks,
            {".git", "node_modules"},
            "marlit: warning: loop: leads back to a directory above it, not walked into (a file "
            "system loop)\n.git\n" ALL_OF_A ALL_OF_LN "loop\nnode_modules\nz.txt\nproblems 0\n"},
        WalkCase{"follow depth 1",
                 1,
                 kWalkFollowLinks,
                 {},
                 ".git\na\nln\nloop\nnode_modules\nz.txt\nproblems 0\n"}),
    RowName());

// Run as root, the walk reads every directory: the child then drops to
// nobody, in its own process, so no program need be readable by nobody.
// A directory that may be read but not searched lists its names; those the
// criteria look at are gone, with one message for it.
TEST_F(Walk, WarnsOfUnreadableDirectoriesAndGoesOn) {
  Make({"open/x", "shut/inside", "names-only/y", "names-only/y2", "z/"});
  ASSERT_EQ(chmod((Root / "shut").c_str(), 0), 0);
  ASSERT_EQ(chmod((Root / "names-only").c_str(), 0444), 0);
  const ChildRun run = ListInChild(Request(), 2, {}, true);
  if (run.Skipped) GTEST_SKIP() << "root reads every directory, and cannot become nobody here";
  EXPECT_EQ(run.Text,
            "marlit: shut: cannot read directory: Permission denied\n"
            "names-only\nnames-only/y\nnames-only/y2\nopen\nopen/x\nshut\nz\nproblems 1\n");
  EXPECT_EQ(ListInChild(Request(), 2, {DescribeWhat::Matching, "y*"}, true).Text,
            "marlit: names-only: cannot read directory: Permission denied\n"
            "marlit: shut: cannot read directory: Permission denied\n"
            "names-only\ngone names-only/y\ngone names-only/y2\nopen\nopen/x\nshut\nz\n"
            "problems 2\n");
  ListingRequest root = Request();
  const std::string shut = (Root / "shut").string();
  root.Directory = shut.c_str();
  const ChildRun refused = ListInChild(root, kWindowEntries, {}, true);
  EXPECT_EQ(refused.Text, "error: cannot open directory '" + shut + "': Permission denied\n");
}

// A chain of directories whose path is longer than the kernel takes (4,096
// bytes), each beside an empty one that the walk reads after the chain, so
// that each stays open for it; walked by one thread with a few descriptors,
// and with many: past the budget of open directories the walk opens them a
// piece of their path at a time.
TEST_F(Walk, ReachesPathsLongerThanTheKernelTakes) {
  const std::string name(200, 'd');
  int at = open(Root.c_str(), O_RDONLY | O_DIRECTORY);
  std::string expected, path;
  for (int level = 0; level < 24; ++level) {
    ASSERT_EQ(mkdirat(at, "a", 0755), 0);
    ASSERT_EQ(mkdirat(at, name.c_str(), 0755), 0);
    const int next = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(at);
    at = next;
    expected += path + "a\n";
    path += name;
    expected += path + "\n";
    path += "/";
  }
  const int fd = openat(at, "end", O_WRONLY | O_CREAT, 0644);
  close(fd);
  close(at);
  expected += path + "end\nproblems 0\n";
  ASSERT_GT(path.size(), 4096u);
  EXPECT_EQ(ListInChild(Request()).Text, expected);
  EXPECT_EQ(ListInChild(Request(), 7, {DescribeWhat::Every, ""}).Text, expected);
  const ChildRun few = ListInChild(Request(), 7, {DescribeWhat::Every, ""}, false, 16);
  if (!few.Skipped) {
    EXPECT_EQ(few.Text, expected);
  }
}

TEST_F(Walk, ListsNamesOfEveryByteInByteOrder) {
  std::vector<std::string> names;
  for (int byte = 1; byte < 256; ++byte) {
    if (byte != '/') names.push_back(std::string("n") + static_cast<char>(byte));
  }
  fs::create_directory(Root / "d");
  for (const std::string& n : names) {
    const int fd = open((Root / "d" / n).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << n;
    close(fd);
  }
  std::string expected = "d\n";
  for (const std::string& n : names) expected += "d/" + n + "\n";  // already in byte order
  EXPECT_EQ(ListInChild(Request()).Text, expected + "problems 0\n");
}

// The entries the rule wants are described in full, the others have their
// type alone; what is described changes no entry's place.
TEST_F(Walk, DescribesWhatTheCriteriaLookAt) {
  Make(kSample);
  for (const char* file : {"z.txt", "a/b/f.log", "a/.hidden/h.log"}) {
    std::FILE* const out = std::fopen((Root / file).c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs(file, out);
    std::fclose(out);
    ASSERT_EQ(chmod((Root / file).c_str(), file[0] == 'z' ? 0444 : 0644), 0);
  }
  ListingRequest request = Request();
  request.Match = TestCmpName;
  request.Threads = 1;  // the test process stays of one thread for the forks after it
  TreeListing listing;
  std::string error;
  ASSERT_TRUE(OpenListing(request, listing, error)) << error;
  DescribeFor(listing, {DescribeWhat::Matching, "*.log|h*"});
  PanelWindow window;
  std::string sizes;
  while (NextWindow(listing, window, 3)) {
    for (size_t i = 0; i < window.Items.size(); ++i) {
      const PluginPanelItem& item = window.Items[i];
      AppendPath(sizes, window, i);
      const uint32_t size = item.FindData.nFileSizeLow;
      const uint32_t attributes = item.FindData.dwFileAttributes;
      sizes += " " + std::to_string(size) + " " + std::to_string(attributes) + "\n";
    }
  }
  EXPECT_EQ(listing.Problems, 0);
  // f.log is described (9 bytes); h.log is left out by the mask's exclusion
  // and z.txt by its name, so neither shows its size or z.txt's read-only.
  EXPECT_EQ(sizes,
            ".git 0 18\n.git/objects 0 16\n.git/objects/x 0 32\na 0 16\na/.hidden 0 18\n"
            "a/.hidden/h.log 0 32\na/b 0 16\na/b/c 0 16\na/b/c/deep.txt 0 32\na/b/f.log 9 32\n"
            "ln 0 0\nloop 0 0\nnode_modules 0 16\nnode_modules/pkg 0 16\nz.txt 0 32\n");
}

// /proc is a file system of its own: with kWalkSameDevice the walk of /
// lists it but does not go into it.
TEST_F(Walk, StaysOnTheRootsFileSystem) {
  struct stat root {
  }, proc{};
  if (stat("/", &root) != 0 || stat("/proc/self", &proc) != 0 || root.st_dev == proc.st_dev) {
    GTEST_SKIP() << "no /proc on a file system of its own";
  }
  ListingRequest request = Request(2, kWalkSameDevice);
  request.Directory = "/";
  const std::string same = ListInChild(request).Text;
  EXPECT_NE(same.find("\nproc\n"), std::string::npos);
  EXPECT_EQ(same.find("\nproc/"), std::string::npos);
  request.Flags = 0;
  EXPECT_NE(ListInChild(request).Text.find("\nproc/self\n"), std::string::npos);
}

}  // namespace
}  // namespace marlit::console
