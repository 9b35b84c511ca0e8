// The console host's listing when the directory changes under it, and names
// at the file system's limits. Entries vanish or change their type between
// the reading of the directory and their description: this file defines
// statx and fstatat itself, so the listing's calls come here first; for
// names of a marked form the stand-in changes the entry, then asks the C
// library. Names of 255 bytes and of bytes that are no UTF-8 are listed and
// matched as they are. Linux only, like the console host.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "console/panel/listing.h"
#include "console/session/wildcard.h"

namespace {

namespace fs = std::filesystem;
using marlit::FILE_ATTRIBUTE_ARCHIVE;
using marlit::FILE_ATTRIBUTE_DIRECTORY;
using marlit::FILE_ATTRIBUTE_SYSTEM;
using marlit::PluginPanelItem;

// While set, entries whose names start with these words change when they are
// described: "vanish" is removed; "todir" becomes a directory, "tofifo" a
// FIFO, "tolink" a link to nothing, "tofile" (a directory) a file of three
// bytes; "linkgone" (a link to nothing) is removed when the listing turns to
// the link itself. Every change can run again without harm, so the listing's
// threads need no coordination.
std::atomic<bool> g_changing{false};
// While set, statx reports that the kernel lacks it, as old kernels do.
std::atomic<bool> g_noStatx{false};

void ChangeEntry(int dirFd, const char* name, int flags) {
  if (!g_changing) return;
  const std::string_view n = name;
  if (n.starts_with("vanish")) {
    unlinkat(dirFd, name, 0);
  } else if (n.starts_with("todir")) {
    if (unlinkat(dirFd, name, 0) == 0) mkdirat(dirFd, name, 0755);
  } else if (n.starts_with("tofifo")) {
    if (unlinkat(dirFd, name, 0) == 0) mkfifoat(dirFd, name, 0644);
  } else if (n.starts_with("tolink")) {
    if (unlinkat(dirFd, name, 0) == 0) symlinkat("missing", dirFd, name);
  } else if (n.starts_with("tofile")) {
    if (unlinkat(dirFd, name, AT_REMOVEDIR) == 0) {
      const int fd = openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL, 0644);
      if (fd >= 0) {
        static_cast<void>(write(fd, "abc", 3));
        close(fd);
      }
    }
  } else if (n.starts_with("linkgone") && (flags & AT_SYMLINK_NOFOLLOW) != 0) {
    unlinkat(dirFd, name, 0);
  }
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int statx(int dirFd, const char* name, int flags, unsigned int mask,
                     struct statx* buffer) {
  if (g_noStatx) {
    errno = ENOSYS;
    return -1;
  }
  ChangeEntry(dirFd, name, flags);
  using Statx = int (*)(int, const char*, int, unsigned int, struct statx*);
  static const Statx real = Next<Statx>("statx");
  return real(dirFd, name, flags, mask, buffer);
}

extern "C" int fstatat(int dirFd, const char* name, struct stat* buffer, int flags) {
  ChangeEntry(dirFd, name, flags);
  using Fstatat = int (*)(int, const char*, struct stat*, int);
  static const Fstatat real = Next<Fstatat>("fstatat");
  return real(dirFd, name, buffer, flags);
}

namespace {

class ListingFaults : public ::testing::TestWithParam<bool> {
 protected:
  fs::path Dir;

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "marlit-listing-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    Dir = pattern;
    g_noStatx = GetParam();
  }

  void TearDown() override {
    g_changing = false;
    g_noStatx = false;
    std::error_code ignored;
    fs::remove_all(Dir, ignored);
  }

  void MakeFile(const std::string& name, size_t size = 0) {
    const int fd = open((Dir / name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << name;
    const std::string bytes(size, 'x');
    ASSERT_EQ(write(fd, bytes.data(), size), static_cast<ssize_t>(size));
    close(fd);
  }

  // The listing while entries change, every entry described (or those the
  // mask names); the items by name, those found gone apart.
  std::map<std::string, PluginPanelItem> ListChanging(int& problems,
                                                      std::map<std::string, bool>* gone = nullptr,
                                                      const char* mask = nullptr) {
    using namespace marlit::console;
    ListingRequest request;
    request.Directory = Dir.c_str();
    request.Match = ConsoleCmpName;
    TreeListing listing;
    std::string error;
    problems = 0;
    g_changing = true;
    std::map<std::string, PluginPanelItem> byName;
    if (OpenListing(request, listing, error)) {
      DescribeFor(listing, mask == nullptr ? DescribeRule{DescribeWhat::Every, ""}
                                           : DescribeRule{DescribeWhat::Matching, mask});
      PanelWindow window;
      while (NextWindow(listing, window, 100)) {
        for (size_t i = 0; i < window.Items.size(); ++i) {
          const char* const name = window.Items[i].FindData.cFileName;
          byName[name] = window.Items[i];
          if (gone != nullptr) (*gone)[name] = window.Gone[i] != 0;
        }
      }
    }
    g_changing = false;
    EXPECT_EQ(error, "");
    problems = listing.Problems;
    return byName;
  }
};

uint32_t Attributes(const PluginPanelItem& item) { return item.FindData.dwFileAttributes; }
uint32_t Size(const PluginPanelItem& item) { return item.FindData.nFileSizeLow; }

struct ChangeCase {
  const char* Name;  // the entry, made as a file unless said below
  bool Gone;         // listed by name, found gone when described
  uint32_t Attributes;
  uint32_t Size;
};

// One row per change: what the panel shows of an entry that changed while it
// was being described. A directory that turned into a file was walked into
// by its type: found gone, its contents are none.
const ChangeCase kChanges[] = {
    {"vanish", true, FILE_ATTRIBUTE_ARCHIVE, 0},
    {"todir", false, FILE_ATTRIBUTE_DIRECTORY, 0},
    {"tofifo", false, FILE_ATTRIBUTE_SYSTEM, 0},
    {"tolink", false, 0, 7},  // the link itself: its size is its target's length
    {"tofile", false, FILE_ATTRIBUTE_ARCHIVE, 3},
    {"linkgone", true, 0, 0},
    {"stays", false, FILE_ATTRIBUTE_ARCHIVE, 5},
};

void MakeEntry(const fs::path& dir, const std::string& name) {
  if (name.starts_with("tofile")) {
    ASSERT_EQ(mkdir((dir / name).c_str(), 0755), 0);
  } else if (name.starts_with("linkgone")) {
    ASSERT_EQ(symlink("missing", (dir / name).c_str()), 0);
  } else {
    const int fd = open((dir / name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "12345", 5), 5);
    close(fd);
  }
}

TEST_P(ListingFaults, ShowEntriesAsTheyWereWhenDescribed) {
  for (const ChangeCase& c : kChanges) MakeEntry(Dir, c.Name);
  int problems = 0;
  std::map<std::string, bool> gone;
  const std::map<std::string, PluginPanelItem> items = ListChanging(problems, &gone);
  EXPECT_EQ(problems, 0) << "vanished entries are left out silently";
  for (const ChangeCase& c : kChanges) {
    SCOPED_TRACE(c.Name);
    const auto found = items.find(c.Name);
    ASSERT_NE(found, items.end());
    EXPECT_EQ(gone[c.Name], c.Gone);
    if (c.Gone) continue;
    EXPECT_EQ(Attributes(found->second), c.Attributes);
    EXPECT_EQ(Size(found->second), c.Size);
  }
}

// Enough entries for several threads to describe them, a tenth of them
// vanishing and a tenth turning into directories.
TEST_P(ListingFaults, ManyThreadsSeeEveryChange) {
  constexpr int kCount = 1200;  // three blocks of the listing's work
  for (int i = 0; i < kCount; ++i) {
    const char* kind = i % 10 == 3 ? "vanish" : i % 10 == 7 ? "todir" : "file";
    MakeFile(kind + std::to_string(i));
  }
  int problems = 0;
  std::map<std::string, bool> gone;
  const std::map<std::string, PluginPanelItem> items = ListChanging(problems, &gone);
  EXPECT_EQ(problems, 0);
  EXPECT_EQ(items.size(), static_cast<size_t>(kCount));
  int directories = 0;
  for (const auto& [name, item] : items) {
    EXPECT_EQ(gone[name], name.starts_with("vanish")) << name;
    const bool directory = (Attributes(item) & FILE_ATTRIBUTE_DIRECTORY) != 0;
    EXPECT_EQ(directory, name.starts_with("todir")) << name;
    directories += directory ? 1 : 0;
  }
  EXPECT_EQ(directories, kCount / 10);
}

// The files are described only when wanted, by the mask: what changed
// meanwhile shows then, and an entry gone is marked, silently.
TEST_P(ListingFaults, DescribesByMaskWhatWasListedByName) {
  for (const char* name : {"vanish.log", "todir.log", "stays.log", "other.txt", "vanish.txt"}) {
    MakeEntry(Dir, name);
  }
  int problems = 0;
  std::map<std::string, bool> gone;
  const std::map<std::string, PluginPanelItem> items = ListChanging(problems, &gone, "*.log");
  EXPECT_EQ(problems, 0);
  struct Row {
    const char* Name;
    bool Gone;
    uint32_t Attributes;
    uint32_t Size;
  };
  const Row rows[] = {{"other.txt", false, FILE_ATTRIBUTE_ARCHIVE, 0},  // type alone
                      {"stays.log", false, FILE_ATTRIBUTE_ARCHIVE, 5},
                      {"todir.log", false, FILE_ATTRIBUTE_DIRECTORY, 0},
                      {"vanish.log", true, FILE_ATTRIBUTE_ARCHIVE, 0},
                      {"vanish.txt", false, FILE_ATTRIBUTE_ARCHIVE, 0}};  // never described
  ASSERT_EQ(items.size(), std::size(rows));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    const PluginPanelItem& item = items.at(row.Name);
    EXPECT_EQ(gone[row.Name], row.Gone);
    EXPECT_EQ(Attributes(item), row.Attributes);
    EXPECT_EQ(Size(item), row.Size);
  }
}

// The longest names the file system takes, and names that are no UTF-8:
// listed byte for byte and matched by the host's wildcard rules as bytes.
TEST_P(ListingFaults, ListsAndMatchesNamesOfAnyBytesUpTo255) {
  const std::vector<std::string> names = {
      std::string(251, 'n') + ".txt",         std::string(255, '\xff'), "caf\xe9\x80\xc0.txt",
      std::string(254, '\xd0') + "\xd1",  // a lead byte without its follower at the end
      "\xef\xbb\xbf" + std::string(252, 'b'),
  };
  for (const std::string& name : names) MakeFile(name, name.size() % 7);
  int problems = 0;
  const std::map<std::string, PluginPanelItem> items = ListChanging(problems);
  EXPECT_EQ(problems, 0);
  ASSERT_EQ(items.size(), names.size());
  for (const std::string& name : names) {
    const auto found = items.find(name);
    ASSERT_NE(found, items.end()) << name.size() << " bytes";
    EXPECT_EQ(Size(found->second), name.size() % 7);
    const char* listed = found->second.FindData.cFileName;
    EXPECT_EQ(marlit::console::ConsoleCmpName("*", listed, 1), 1);
    EXPECT_EQ(marlit::console::ConsoleCmpName(name.c_str(), listed, 1),
              name.find_first_of("*?[,|") == std::string::npos ? 1 : 0);
    EXPECT_EQ(marlit::console::ConsoleCmpName("*.txt", listed, 1), name.ends_with(".txt") ? 1 : 0);
  }
}

INSTANTIATE_TEST_SUITE_P(DescribedBy, ListingFaults, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Fstatat" : "Statx");
                         });

}  // namespace
