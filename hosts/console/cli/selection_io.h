// The console host's selection as text: the paths it reads with --selected
// before the command, and the paths it prints when the plug-in has the panel
// redrawn.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "console/cli/options.h"
#include "console/panel/listing.h"
#include "engine/local_time.h"
#include "host/records.h"

namespace marlit::console {

// The paths read with --selected, in tree order, met window by window as
// the panel is shown: one pass over the tree finds them all.
struct ListedPaths {
  std::string Text;
  std::vector<std::string_view> Paths;  // into Text, sorted in tree order
  size_t Next = 0;                      // the first path not met yet
  size_t Unnamed = 0;                   // paths passed by without an entry
};

// Takes the paths of `text`, one between each two `separator`s: a path below
// the listed directory, or that path after `shown` (what the output puts
// before each path). Empty lines are ignored.
void ReadListedPaths(std::string text, char separator, std::string_view shown, ListedPaths& listed);

// Marks (PPIF_SELECTED) the items of the window whose paths are listed. The
// windows must come in tree order.
void MarkListedPaths(ListedPaths& listed, PanelWindow& window);

// How many of the lines name no entry, once every window was met.
size_t UnnamedPaths(const ListedPaths& listed);

// Reads a whole file ("-": standard input) into `text`. Returns false with a
// one-line reason in `error`.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& error);

// The attribute letters of -l, in the order a r h s d c, '-' for each absent.
std::string AttributeLetters(uint32_t attributes);

// One line of -l without its end: size, local date and time of the last
// write, attributes, and the path as printed. The date and time are the very
// ones the date and time criteria test, through the same zone view.
std::string LongLine(const PluginPanelItem& item, LocalZone& zone, std::string_view path);

// Prints the paths of the marked items of a window in panel order, each
// after `shown`, as the options ask. Returns how many were printed.
size_t WriteSelection(std::FILE* out, const PanelWindow& window, const std::vector<uint8_t>& marks,
                      std::string_view shown, const ConsoleOptions& options, LocalZone& zone);

}  // namespace marlit::console
