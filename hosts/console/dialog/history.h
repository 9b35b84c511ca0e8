// The input histories the console host keeps for dialog fields that carry
// DIF_HISTORY: by history name, last used first, in one file under the
// person's state directory.
//
// The file: a first line "marlit input history 1", then one line per entry,
// "<name>\t<text>", the entries of a history in order, last used first, the
// most recently used history first. Bytes below 0x20, 0x7F and "\" are
// written as "\xHH"; every other byte stands as it is. Lines that do not
// parse, names or texts beyond their limits and entries past the limits are
// skipped on reading.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marlit::console {

constexpr size_t kHistoryEntries = 20;  // per history
constexpr size_t kHistoryNames = 32;    // histories kept
constexpr size_t kHistoryNameBytes = 255;
constexpr size_t kHistoryTextBytes = 511;  // a dialog field's text
constexpr size_t kHistoryFileBytes = 4 << 20;
constexpr const char* kHistoryHeader = "marlit input history 1";

struct History {
  std::string Name;
  std::vector<std::string> Entries;  // last used first
};

struct HistoryStore {
  std::vector<History> Histories;  // last used first
};

// The history file: $XDG_STATE_HOME/marlit/history when that is an absolute
// path, else <home>/.local/state/marlit/history; "" when neither is known.
std::string HistoryFilePath(const char* stateHome, const char* home);

HistoryStore ParseHistory(std::string_view text);
std::string FormatHistory(const HistoryStore& store);

// The entries of history `name`, or null.
const std::vector<std::string>* FindHistory(const HistoryStore& store, std::string_view name);

// Puts `text` first in history `name` (moving it there if it is in it
// already) and the history first of all; keeps the limits. Empty texts, and
// names or texts beyond their limits, are not kept.
void AddToHistory(HistoryStore& store, std::string_view name, std::string_view text);

// Reads the file; a missing, unreadable or oversized file gives no history.
HistoryStore LoadHistory(const std::string& path);

// Writes the file whole through a temporary file in its directory, renamed
// over it, creating the directories (mode 0700) as needed. Returns false with
// the reason in `error`.
bool SaveHistory(const std::string& path, const HistoryStore& store, std::string& error);

}  // namespace marlit::console
