// Linux only: the settings file when the file system fails it. The module is
// driven through its entry points by the test host; values stored by a first
// run must survive a second run whose writes cannot succeed (a read-only
// folder, a full disk, the file or its lock file replaced by a directory),
// and that second run must still mark the panel. Faults that need another
// user (root writes anywhere), a mount or a file size limit are set up in a
// child process, which reports what it saw through a pipe.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/panel.h"
#include "testhost/testhost.h"

namespace marlit {
namespace {

namespace fs = std::filesystem;
namespace th = testhost;
using test::attr::A;
using test::attr::R;

constexpr uid_t kNobody = 65534;
constexpr uint32_t SEL = PPIF_SELECTED;
constexpr int kMask = 2, kSize = 10, kConfirm = 30;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out.flush());
}

// What a run of the command left: the items' flags, the mask the dialog
// showed (what loading read), and the store's bytes afterwards.
struct Outcome {
  std::string Skipped;  // why the fault could not be set up; "" when it was
  std::vector<uint32_t> Flags;
  std::string ShownMask;
  std::string Store;
};

enum class Fault {
  ReadOnlyFolder,          // no lock file yet: it cannot be made
  ReadOnlyFolderWithLock,  // the lock opens, the new file cannot be made
  DiskFull,
  FileIsDirectory,
  LockIsDirectory,
};

class StoreFaults : public ::testing::Test {
 protected:
  std::string Folder;  // the test's own, removed afterwards
  std::string Conf;    // the store's folder
  std::string File;    // the store
  th::Module Module;

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "marlit-faults-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    Folder = pattern;
    ASSERT_EQ(chmod(Folder.c_str(), 0755), 0);  // another user may pass through
    Conf = Folder + "/conf";
    File = Conf + "/registry.reg";
    ASSERT_EQ(setenv("MARLIT_REGISTRY", File.c_str(), 1), 0);
    ASSERT_TRUE(th::ResetHost(nullptr, "Software\\MarlitFaults"));
    std::string error;
    ASSERT_TRUE(th::StartModule(MARLIT_MODULE_FILE, Module, error)) << error;
  }

  void TearDown() override {
    th::UnloadModule(Module);
    unsetenv("MARLIT_REGISTRY");
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(Folder, ignored)) {
      if (entry.is_directory() && !entry.is_symlink()) chmod(entry.path().c_str(), 0700);
    }
    chmod(Conf.c_str(), 0700);
    fs::remove_all(Folder, ignored);
  }

  // One confirmed run that types a mask and a size, on a panel of three
  // unselected items.
  Outcome Run(const std::string& mask, const std::string& size) {
    th::Host.Items = {test::MakeItem({"a.txt", 10, A}), test::MakeItem({"b.log", 5000, A}),
                      test::MakeItem({"c.txt", 3000, R})};
    th::Host.Script = {th::SetText(kMask, mask), th::SetText(kSize, size), th::Press(kConfirm)};
    th::Host.NextAction = 0;
    th::Host.Dialogs.clear();
    th::Host.Calls.clear();
    Module.OpenPlugin(0, 0);
    Outcome outcome;
    for (const PluginPanelItem& item : th::Host.Items) {
      const uint32_t flags = item.Flags;
      outcome.Flags.push_back(flags);
    }
    if (!th::Host.Dialogs.empty()) outcome.ShownMask = th::Host.Dialogs[0].Items[kMask].Data;
    outcome.Store = ReadFile(File);
    return outcome;
  }

  // Runs the command in a child process after `prepare`, which sets up the
  // fault there and returns "" or why it could not.
  Outcome RunInChild(const std::function<std::string()>& prepare, const std::string& mask,
                     const std::string& size) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return Outcome{"no pipe", {}, {}, {}};
    const pid_t child = fork();
    if (child == 0) {
      close(pipeEnds[0]);
      std::string report;
      const std::string skipped = prepare();
      if (!skipped.empty()) {
        report = "skip\n" + skipped;
      } else {
        const Outcome outcome = Run(mask, size);
        report = "ran\n";
        for (const uint32_t flags : outcome.Flags) report += std::to_string(flags) + " ";
        report += "\n" + outcome.ShownMask + "\n" + ReadFile(std::getenv("MARLIT_REGISTRY"));
      }
      const bool written =
          write(pipeEnds[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
      _exit(written ? 0 : 1);
    }
    close(pipeEnds[1]);
    std::string report;
    char chunk[4096];
    for (ssize_t got; (got = read(pipeEnds[0], chunk, sizeof chunk)) != 0;) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      report.append(chunk, static_cast<size_t>(got));
    }
    close(pipeEnds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    Outcome outcome;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      ADD_FAILURE() << "the child process failed";
      return outcome;
    }
    std::istringstream lines(report);
    std::string kind, flags;
    std::getline(lines, kind);
    if (kind == "skip") {
      std::getline(lines, outcome.Skipped);
      return outcome;
    }
    std::getline(lines, flags);
    std::istringstream numbers(flags);
    for (uint32_t value = 0; numbers >> value;) outcome.Flags.push_back(value);
    std::getline(lines, outcome.ShownMask);
    outcome.Store.assign(std::istreambuf_iterator<char>(lines), {});
    return outcome;
  }
};

// Drops to the user nobody where the test runs as root, whose writes no
// folder mode stops; false when it cannot.
bool BecomeNobody() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

// Gives the store's folder and files to nobody (as root), so that nobody
// reads the store as its owner would.
void GiveToNobody(const std::string& path) {
  if (geteuid() != 0) return;
  for (const auto& entry : fs::recursive_directory_iterator(path)) {
    ASSERT_EQ(lchown(entry.path().c_str(), kNobody, kNobody), 0) << entry.path();
  }
  ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
}

// Fills the small file system the store is on until it is full.
bool FillUp(const std::string& folder) {
  const int fd = open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  const std::string block(512, 'f');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  const bool full = errno == ENOSPC;
  close(fd);
  return full;
}

// The store on a file system of two pages with no room left, mounted in a
// mount namespace of the child's own; where mounting is not allowed, a file
// size limit below the store's size does the same to every write.
std::string MakeDiskFull(const std::string& folder, const std::string& stored) {
  const std::string small = folder + "/small";
  if (mkdir(small.c_str(), 0700) != 0) return "cannot make a folder";
  if (unshare(CLONE_NEWNS) == 0 &&
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
      mount("tmpfs", small.c_str(), "tmpfs", 0, "size=8k") == 0) {
    const std::string file = small + "/registry.reg";
    if (!WriteFile(file, stored) || !FillUp(small)) return "cannot fill the small file system";
    setenv("MARLIT_REGISTRY", file.c_str(), 1);
    return "";
  }
  std::signal(SIGXFSZ, SIG_IGN);
  const rlim_t limit = stored.size() / 2;
  const rlimit size{limit, limit};
  return setrlimit(RLIMIT_FSIZE, &size) == 0 ? "" : "neither a mount nor a file size limit";
}

struct FaultCase {
  const char* Name;
  Fault Kind;
  bool ReadsStoredValues;  // whether the faulty run still loads what was stored
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.Name; }

class StoreFaultCases : public StoreFaults, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(StoreFaultCases, StillMarkThePanelAndLoseNothingStored) {
  const FaultCase& fault = GetParam();
  const Outcome first = Run("*.txt", "");
  ASSERT_EQ(first.Flags, (std::vector<uint32_t>{SEL, 0, SEL}));
  const std::string stored = first.Store;
  ASSERT_NE(stored.find("\"Mask\"=\"*.txt\""), std::string::npos) << stored;

  const std::string lock = File + ".lock";
  std::function<std::string()> prepare = [] { return std::string(); };
  switch (fault.Kind) {
    case Fault::ReadOnlyFolder:
    case Fault::ReadOnlyFolderWithLock:
      if (fault.Kind == Fault::ReadOnlyFolder) {
        ASSERT_EQ(unlink(lock.c_str()), 0);
      }
      GiveToNobody(Conf);
      ASSERT_EQ(chmod(Conf.c_str(), 0555), 0);
      prepare = [] { return BecomeNobody() ? "" : "cannot become nobody"; };
      break;
    case Fault::DiskFull:
      prepare = [this, stored] { return MakeDiskFull(Folder, stored); };
      break;
    case Fault::FileIsDirectory:
      ASSERT_EQ(rename(File.c_str(), (Folder + "/saved.reg").c_str()), 0);
      ASSERT_EQ(mkdir(File.c_str(), 0700), 0);
      ASSERT_TRUE(WriteFile(File + "/inside", "kept"));
      break;
    case Fault::LockIsDirectory:
      ASSERT_EQ(unlink(lock.c_str()), 0);
      ASSERT_EQ(mkdir(lock.c_str(), 0700), 0);
      break;
  }

  const Outcome faulty = RunInChild(prepare, "*.log", "1k..");
  if (!faulty.Skipped.empty()) GTEST_SKIP() << faulty.Skipped;
  EXPECT_EQ(faulty.Flags, (std::vector<uint32_t>{0, SEL, 0})) << "the panel is still marked";
  EXPECT_EQ(faulty.ShownMask, fault.ReadsStoredValues ? "*.txt" : "*.*");
  if (fault.Kind == Fault::FileIsDirectory) {
    EXPECT_EQ(ReadFile(File + "/inside"), "kept");
    ASSERT_EQ(unlink((File + "/inside").c_str()), 0);
    ASSERT_EQ(rmdir(File.c_str()), 0);
    ASSERT_EQ(rename((Folder + "/saved.reg").c_str(), File.c_str()), 0);
  } else {
    EXPECT_EQ(faulty.Store, stored) << "the store keeps every byte";
  }

  // With the fault gone, the next run loads what the first one stored.
  chmod(Conf.c_str(), 0700);
  rmdir(lock.c_str());
  EXPECT_EQ(ReadFile(File), stored);
  const Outcome after = Run("*.txt", "");
  EXPECT_EQ(after.ShownMask, "*.txt");
  EXPECT_EQ(after.Flags, (std::vector<uint32_t>{SEL, 0, SEL}));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StoreFaultCases,
    ::testing::Values(FaultCase{"ReadOnlyFolder", Fault::ReadOnlyFolder, true},
                      FaultCase{"ReadOnlyFolderWithLock", Fault::ReadOnlyFolderWithLock, true},
                      FaultCase{"DiskFull", Fault::DiskFull, true},
                      FaultCase{"FileIsDirectory", Fault::FileIsDirectory, false},
                      FaultCase{"LockIsDirectory", Fault::LockIsDirectory, true}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.Name); });

// Files edited by hand, with a hex value continued over several lines in
// ways the store itself never writes.
struct DamageCase {
  const char* Name;
  const char* Lines;     // after the header and the key's section line
  const char* Read;      // the value read back
  const char* Expected;  // its bytes, or null when it cannot be read
};

void PrintTo(const DamageCase& c, std::ostream* out) { *out << c.Name; }

class DamagedFiles : public StoreFaults, public ::testing::WithParamInterface<DamageCase> {};

constexpr const char* kSection = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Damaged]\n";

TEST_P(DamagedFiles, ReadWhatTheyCanAndKeepWhatIsWrittenAfter) {
  const DamageCase& c = GetParam();
  ASSERT_EQ(mkdir(Conf.c_str(), 0700), 0);
  ASSERT_TRUE(WriteFile(File, std::string(kSection) + c.Lines));
  char buffer[64] = {};
  uint32_t size = sizeof buffer;
  const RegistryResult read =
      ReadRegistryValue(kHkeyCurrentUser, "Software\\Damaged", c.Read, buffer, &size, nullptr);
  if (c.Expected == nullptr) {
    EXPECT_EQ(read, RegistryResult::Failed);
  } else {
    ASSERT_EQ(read, RegistryResult::Ok);
    EXPECT_EQ(std::string(buffer, size), c.Expected);
  }
  // A value written after it reads back, and the damaged one reads as before.
  ASSERT_EQ(WriteRegistryValue(kHkeyCurrentUser, "Software\\Damaged", "New", kRegBinary, "\x07", 1),
            RegistryResult::Ok);
  char added[4] = {};
  size = sizeof added;
  EXPECT_EQ(ReadRegistryValue(kHkeyCurrentUser, "Software\\Damaged", "New", added, &size, nullptr),
            RegistryResult::Ok);
  EXPECT_EQ(std::string(added, size), "\x07");
  size = sizeof buffer;
  EXPECT_EQ(
      ReadRegistryValue(kHkeyCurrentUser, "Software\\Damaged", c.Read, buffer, &size, nullptr),
      read);
}

INSTANTIATE_TEST_SUITE_P(
    HandEdited, DamagedFiles,
    ::testing::Values(DamageCase{"ContinuedOverABlankLine", "\"B\"=hex:41,\\\n\n  42\n", "B", "AB"},
                      DamageCase{"ContinuedOverBlanks", "\"B\"=hex:41,\\\n   \n  42\n", "B", "AB"},
                      DamageCase{"ContinuedIntoNothing", "\"B\"=hex:41,42,\\\n", "B", nullptr},
                      DamageCase{"ContinuedIntoAValue", "\"B\"=hex:41,\\\n\"C\"=hex:43\n", "C",
                                 "C"},
                      DamageCase{"ContinuedIntoASection",
                                 "\"B\"=hex:41,\\\n[HKEY_CURRENT_USER\\Other]\n", "B", nullptr}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace marlit
