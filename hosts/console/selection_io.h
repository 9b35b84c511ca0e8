// The console host's selection as text: the paths it reads with --selected
// before the command, and the paths it prints when the plug-in has the panel
// redrawn.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/options.h"
#include "engine/local_time.h"
#include "host/records.h"

namespace marlit::console {

// Marks (PPIF_SELECTED) the items whose paths appear in `text`, one path
// between each two `separator`s: a path below the listed directory, or that
// path after `shown` (what the output puts before each path). Empty lines are
// ignored. Returns the number of the other lines that name no item. `items`
// and `parents` are a panel and its path table in tree order.
size_t MarkListedPaths(std::string_view text, char separator, std::string_view shown,
                       std::span<PluginPanelItem> items, std::span<const uint32_t> parents);

// Reads a whole file ("-": standard input) into `text`. Returns false with a
// one-line reason in `error`.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& error);

// The attribute letters of -l, in the order a r h s d c, '-' for each absent.
std::string AttributeLetters(uint32_t attributes);

// One line of -l without its end: size, local date and time of the last
// write, attributes, and the path as printed. The date and time are the very
// ones the date and time criteria test, through the same zone view.
std::string LongLine(const PluginPanelItem& item, LocalZone& zone, std::string_view path);

// Prints the paths of the marked items in panel order, each after `shown`,
// as the options ask. Returns how many were printed.
size_t WriteSelection(std::FILE* out, std::span<const PluginPanelItem> items,
                      std::span<const uint32_t> parents, const std::vector<uint8_t>& marks,
                      std::string_view shown, const ConsoleOptions& options);

}  // namespace marlit::console
