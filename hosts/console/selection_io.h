// The console host's selection as text: the names it reads with --selected
// before the command, and the names it prints when the plug-in has the panel
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

// Marks (PPIF_SELECTED) the items whose names appear in `text`, names
// separated by `separator`; empty names and names not on the panel are
// ignored. `items` must be sorted by name in byte order.
void MarkListedNames(std::string_view text, char separator, std::span<PluginPanelItem> items);

// Reads a whole file ("-": standard input) into `text`. Returns false with a
// one-line reason in `error`.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& error);

// The attribute letters of -l, in the order a r h s d c, '-' for each absent.
std::string AttributeLetters(uint32_t attributes);

// One line of -l without its end: size, local date and time of the last
// write, attributes, name. The date and time are the very ones the date and
// time criteria test, through the same zone view.
std::string LongLine(const PluginPanelItem& item, LocalZone& zone);

// Prints the marked items in panel order, as the options ask. Returns how
// many were printed.
size_t WriteSelection(std::FILE* out, std::span<const PluginPanelItem> items,
                      const std::vector<uint8_t>& marks, const ConsoleOptions& options);

}  // namespace marlit::console
