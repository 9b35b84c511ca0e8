// The console host's command line: what to list, which plug-in to load, the
// answers to the selection dialog and the form of the output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marlit::console {

// A dialog text field holds at most this many characters.
constexpr size_t kMaxFieldText = 511;

struct ConsoleOptions {
  std::string Directory = ".";
  bool DirectoryGiven = false;  // printed paths begin with it
  std::string PluginPath;       // empty: marlit.so beside the program

  // The walk: -r, --max-depth, --skip, -L, --xdev.
  bool Recursive = false;
  uint32_t MaxDepth = 0;  // 0: not given
  std::vector<std::string> Skip;
  bool FollowLinks = false;
  bool SameDevice = false;

  // Dialog answers; an absent one keeps the field's default, or with Last the
  // stored value the plug-in filled in.
  std::optional<std::string> Mask;
  std::optional<std::string> Size;
  std::optional<std::string> Date;
  std::optional<std::string> Time;
  std::optional<uint32_t> Include;  // attribute bits 0..5: a r h s d c
  std::optional<uint32_t> Exclude;
  std::optional<int> Action;  // a SelectionAction: 0 select, 1 deselect, 2 invert
  std::optional<bool> ClearFirst;
  // --last and --reset: start from the stored values, or from the defaults
  // (which -i would not); the last one given counts.
  bool Last = false;
  bool Reset = false;
  bool Interactive = false;  // -i: a person fills in the dialog on the terminal
  bool Explain = false;      // tell how the criteria are read
  bool Quiet = false;        // -q: no warnings

  std::optional<std::string> SelectedFile;  // "-": standard input
  bool NullSeparated = false;               // -0: NUL between names, out and in
  bool LongFormat = false;                  // -l
  bool Help = false;
  bool Version = false;

  // One line each for the person, e.g. a text cut to the field's length.
  std::vector<std::string> Warnings;
};

// Parses the program's arguments. Returns false with a one-line reason in
// `error` on an unknown option, a missing or bad value or more than one
// directory. A criterion text is never refused: one longer than a dialog field
// holds is cut to the field's length, with a warning in `Warnings`.
bool ParseCommandLine(int argc, const char* const* argv, ConsoleOptions& options,
                      std::string& error);

// Parses a comma-separated list of attribute names (a r h s d c, or archive
// readonly hidden system directory compressed; empty entries skipped) into
// attribute bits 0..5. Returns false with the unknown name in `bad`.
bool ParseAttributeList(std::string_view list, uint32_t& bits, std::string& bad);

// Whether the dialog starts from the stored values rather than the defaults:
// as asked, else for -i (as the file manager opens it) and not for a script.
bool StartsFromStored(const ConsoleOptions& options);

// The long name of attribute bit k (0..5), e.g. "readonly".
const char* AttributeWord(int bit);

// The text of --help.
extern const char* const kHelpText;

// The first `limit` bytes of `text`, less the start of a UTF-8 character that
// the cut would split.
std::string_view CutToField(std::string_view text, size_t limit = kMaxFieldText);

}  // namespace marlit::console
