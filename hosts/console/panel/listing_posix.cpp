// Linux only: the console host's panel, window by window, from a walk of the
// tree below a directory (walk_posix.cpp reads it), with a status line while
// the walk runs. The panel of the file manager on Windows comes from
// FindFirstFile; this file stands in for that.
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/panel/listing.h"
#include "platform/text.h"

namespace marlit::console {
namespace {

constexpr uint64_t kLastStamp = uint64_t{INT64_MAX};

bool MayBeCompressed(uint32_t mode) { return S_ISREG(mode) || S_ISDIR(mode); }

// The status line on a terminal: directories and entries so far and the
// directory being read, cut to the terminal's width so that it never wraps,
// rewritten in place.
void DrawStatus(void* context, const WalkProgress& progress) {
  auto& listing = *static_cast<TreeListing*>(context);
  if (progress.Milliseconds < 1000) return;
  winsize size{};
  const size_t width = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1
                           ? size_t{size.ws_col} - 1
                           : 79;
  std::string line = "marlit: " + std::to_string(progress.Directories) + " directories, " +
                     std::to_string(progress.Entries) + " entries: " + listing.Request->Shown;
  line += progress.Directory;
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  if (line.size() > width) line.resize(width);
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
  listing.Drawn = true;
}

WalkAnswer EnterUnlessSkipped(void* context, std::string_view name) {
  const auto& listing = *static_cast<const TreeListing*>(context);
  for (const MaskList& mask : listing.Skip) {
    if (MaskMatches(mask, listing.Request->Match, name.data())) return WalkAnswer::Prune;
  }
  return WalkAnswer::Continue;
}

bool WantedByMask(void* context, std::string_view name) {
  const auto& listing = *static_cast<const TreeListing*>(context);
  return MaskMatches(listing.Wanted, listing.Request->Match, name.data());
}

bool WantedAll(void*, std::string_view) { return true; }

void Tell(const ListingRequest& request, const std::string& line, bool later) {
  void (*const tell)(const std::string&) = later ? request.TellLater : request.Tell;
  if (tell != nullptr) {
    tell(line);
  } else {
    std::fprintf(stderr, "marlit: %s\n", line.c_str());
  }
}

// What the walk met on the way: told as met (the walk's own problems), or
// later (the problems of describing what the criteria look at).
void TellOf(TreeListing& listing, const WalkEntry& entry) {
  const ListingRequest& request = *listing.Request;
  const auto path = [&] {
    std::string line = request.Shown;
    line.append(entry.Directory).append(entry.Name);
    return line;
  };
  switch (entry.State) {
    case EntryState::Failed:
      Tell(request,
           path() + (entry.Error == ENAMETOOLONG
                         ? std::string(": name longer than 259 bytes, left out")
                         : std::string(": left out: ") + std::strerror(entry.Error)),
           false);
      ++listing.Problems;
      return;
    case EntryState::Unreadable:
      Tell(request, path() + ": cannot read directory: " + std::strerror(entry.Error), false);
      ++listing.Problems;
      break;
    case EntryState::Loop:
      if (!request.Quiet) {
        Tell(request,
             "warning: " + path() +
                 ": leads back to a directory above it, not walked into (a file system loop)",
             false);
      }
      break;
    default:
      break;
  }
  if (entry.Described == Description::LeftOut) {
    Tell(request, path() + ": left out: " + std::strerror(entry.Error), true);
    ++listing.Problems;
  } else if (entry.Described == Description::Denied && entry.FirstOfDirectory) {
    // One message for the directory, whatever it held.
    std::string line;
    if (entry.Directory.empty()) {
      line = request.Directory;
    } else {
      line = request.Shown;
      line.append(entry.Directory.substr(0, entry.Directory.size() - 1));
    }
    Tell(request, line + ": cannot read directory: " + std::strerror(entry.Error), true);
    ++listing.Problems;
  }
}

}  // namespace

uint64_t StampOfUnixTime(int64_t seconds, uint32_t nanoseconds) {
  if (seconds < -kSeconds1601To1970) return 0;
  // Unsigned: the sum cannot overflow for any seconds from 1601 on.
  const uint64_t since1601 = static_cast<uint64_t>(seconds) + uint64_t{kSeconds1601To1970};
  if (since1601 > (kLastStamp - nanoseconds / 100) / kTicksPerSecond) return kLastStamp;
  return since1601 * kTicksPerSecond + nanoseconds / 100;
}

int64_t UnixSecondsOfStamp(uint64_t stamp) {
  return static_cast<int64_t>(stamp / kTicksPerSecond) - kSeconds1601To1970;
}

uint32_t AttributesOf(std::string_view name, uint32_t mode, bool compressed) {
  uint32_t attributes = 0;
  if (S_ISDIR(mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (S_ISREG(mode)) attributes |= FILE_ATTRIBUTE_ARCHIVE;
  if (S_ISCHR(mode) || S_ISBLK(mode) || S_ISFIFO(mode) || S_ISSOCK(mode)) {
    attributes |= FILE_ATTRIBUTE_SYSTEM;
  }
  if (!name.empty() && name.front() == '.') attributes |= FILE_ATTRIBUTE_HIDDEN;
  if ((mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  if (compressed && MayBeCompressed(mode)) attributes |= FILE_ATTRIBUTE_COMPRESSED;
  return attributes;
}

bool FillPanelItem(std::string_view name, const EntryFacts& facts, PluginPanelItem& item) {
  if (name.size() >= kMaxPath) return false;
  std::memset(static_cast<void*>(&item), 0, sizeof item);
  RefillPanelItem(name, facts, item);
  return true;
}

void RefillPanelItem(std::string_view name, const EntryFacts& facts, PluginPanelItem& item) {
  HostFindData& data = item.FindData;
  const size_t length = std::min(name.size(), kMaxPath - 1);
  std::memcpy(data.cFileName, name.data(), length);
  data.cFileName[length] = '\0';
  const uint64_t size = S_ISDIR(facts.Mode) ? 0 : facts.Size;
  data.nFileSizeHigh = static_cast<uint32_t>(size >> 32);
  data.nFileSizeLow = static_cast<uint32_t>(size);
  data.ftLastWriteTime = FileTimeOf(StampOfUnixTime(facts.WriteSeconds, facts.WriteNanoseconds));
  data.dwFileAttributes = AttributesOf(name, facts.Mode, facts.Compressed);
  item.Flags = 0;
}

bool OpenListing(const ListingRequest& request, TreeListing& listing, std::string& error) {
  listing.Request = &request;
  listing.Args.Root = request.Directory;
  listing.Args.MaxDepth = request.MaxDepth;
  listing.Args.Flags = request.Flags;
  listing.Args.Threads = request.Threads;
  listing.Args.MaxName = kMaxPath - 1;
  listing.Args.Progress = request.Progress ? DrawStatus : nullptr;
  listing.Args.Context = &listing;
  listing.Skip.resize(request.Skip.size());
  for (size_t i = 0; i < request.Skip.size(); ++i) ReadMaskList(request.Skip[i], listing.Skip[i]);
  if (!request.Skip.empty() && request.Match != nullptr) listing.Args.Enter = EnterUnlessSkipped;
  listing.Walk = OpenWalk(listing.Args, error);
  return listing.Walk != nullptr;
}

void DescribeFor(TreeListing& listing, const DescribeRule& rule) {
  listing.Args.WantDirectories = rule.Directories;
  switch (rule.What) {
    case DescribeWhat::None:
      listing.Args.Wanted = nullptr;
      break;
    case DescribeWhat::Matching:
      ReadMaskList(rule.Mask, listing.Wanted);
      // A mask of every name, the default, needs no asking.
      listing.Args.Wanted =
          listing.Request->Match == nullptr ||
                  (listing.Wanted.Whole && (rule.Mask == "*" || rule.Mask == "*.*"))
              ? WantedAll
              : WantedByMask;
      break;
    case DescribeWhat::Every:
      listing.Args.Wanted = WantedAll;
      break;
  }
}

bool NextWindow(TreeListing& listing, PanelWindow& window, size_t capacity) {
  window.Items.clear();
  window.Directories.clear();
  window.Gone.clear();
  if (listing.Ended) return false;
  ForgetHanded(*listing.Walk);
  WalkEntry entry{};
  while (window.Items.size() < capacity) {
    if (!NextEntry(*listing.Walk, entry)) {
      listing.Ended = true;
      break;
    }
    TellOf(listing, entry);
    if (entry.State == EntryState::Failed) continue;
    // The window's records were zero when the buffer was made, and nothing
    // writes them but these members: a record taken again needs only those.
    window.Items.emplace_back();
    RefillPanelItem(entry.Name, entry.Facts, window.Items.back());
    window.Directories.push_back(entry.Directory);
    window.Gone.push_back(
        entry.Described == Description::Described || entry.Described == Description::TypeOnly ? 0
                                                                                              : 1);
  }
  if (listing.Ended) ClearStatus(listing);
  return !window.Items.empty();
}

void ClearStatus(TreeListing& listing) {
  if (!listing.Drawn) return;
  std::fputs("\r\033[K", stderr);
  listing.Drawn = false;
}

void AppendPath(std::string& out, const PanelWindow& window, size_t index) {
  if (index >= window.Items.size()) return;
  const char* const name = window.Items[index].FindData.cFileName;
  out.append(window.Directories[index]).append(name, BoundedLength(name, kMaxPath));
}

}  // namespace marlit::console
