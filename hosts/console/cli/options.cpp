#include "console/cli/options.h"

#include <cstring>

namespace marlit::console {
namespace {

// The attribute names, bit k for entry k, in the order of the dialog's boxes.
struct AttributeName {
  const char* Letter;
  const char* Word;
};
constexpr AttributeName kAttributeNames[] = {
    {"a", "archive"},    // bit 0
    {"r", "readonly"},   // bit 1
    {"h", "hidden"},     // bit 2
    {"s", "system"},     // bit 3
    {"d", "directory"},  // bit 4
    {"c", "compressed"}  // bit 5
};
static_assert(std::size(kAttributeNames) == 6);

enum class Key {
  Mask,
  Size,
  Date,
  Time,
  Include,
  Exclude,
  Select,
  Deselect,
  Invert,
  ClearFirst,
  NoClearFirst,
  Last,
  Reset,
  Interactive,
  Explain,
  Quiet,
  Selected,
  Plugin,
  Null,
  Long,
  Help,
  Version,
  Recursive,
  MaxDepth,
  Skip,
  Follow,
  SameDevice
};

struct OptionSpec {
  const char* Name;  // without the leading "--"
  char Short;        // 0: none
  bool TakesValue;
  Key Which;
};

constexpr OptionSpec kOptions[] = {
    {"mask", 0, true, Key::Mask},
    {"size", 0, true, Key::Size},
    {"date", 0, true, Key::Date},
    {"time", 0, true, Key::Time},
    {"include", 0, true, Key::Include},
    {"exclude", 0, true, Key::Exclude},
    {"select", 0, false, Key::Select},
    {"deselect", 0, false, Key::Deselect},
    {"invert", 0, false, Key::Invert},
    {"clear-first", 0, false, Key::ClearFirst},
    {"no-clear-first", 0, false, Key::NoClearFirst},
    {"last", 0, false, Key::Last},
    {"reset", 0, false, Key::Reset},
    {"interactive", 'i', false, Key::Interactive},
    {"explain", 0, false, Key::Explain},
    {"quiet", 'q', false, Key::Quiet},
    {"selected", 0, true, Key::Selected},
    {"plugin", 0, true, Key::Plugin},
    {"null", '0', false, Key::Null},
    {"long", 'l', false, Key::Long},
    {"help", 'h', false, Key::Help},
    {"version", 0, false, Key::Version},
    {"recursive", 'r', false, Key::Recursive},
    {"max-depth", 0, true, Key::MaxDepth},
    {"skip", 0, true, Key::Skip},
    {"follow", 'L', false, Key::Follow},
    {"xdev", 0, false, Key::SameDevice},
};

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

void TakeText(std::optional<std::string>& field, std::string_view name, std::string_view value,
              ConsoleOptions& o) {
  const std::string_view kept = CutToField(value);
  if (kept.size() < value.size()) {
    o.Warnings.push_back("--" + std::string(name) + ": text of " + std::to_string(value.size()) +
                         " bytes cut to " + std::to_string(kept.size()) +
                         ", as the dialog field holds at most " + std::to_string(kMaxFieldText));
  }
  field = std::string(kept);
}

// A depth of 1 or more, in decimal digits only.
bool ParseDepth(std::string_view text, uint32_t& depth) {
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value >= UINT32_MAX) return false;
  }
  depth = static_cast<uint32_t>(value);
  return !text.empty() && depth > 0;
}

bool Apply(const OptionSpec& option, std::string_view value, ConsoleOptions& o,
           std::string& error) {
  uint32_t bits = 0;
  std::string bad;
  switch (option.Which) {
    case Key::Mask:
      TakeText(o.Mask, option.Name, value, o);
      return true;
    case Key::Size:
      TakeText(o.Size, option.Name, value, o);
      return true;
    case Key::Date:
      TakeText(o.Date, option.Name, value, o);
      return true;
    case Key::Time:
      TakeText(o.Time, option.Name, value, o);
      return true;
    case Key::Include:
    case Key::Exclude:
      if (!ParseAttributeList(value, bits, bad)) {
        error = "--" + std::string(option.Name) + ": unknown attribute '" + bad +
                "' (use a,r,h,s,d,c or archive,readonly,hidden,system,directory,compressed)";
        return false;
      }
      {
        // Given again, a list adds to the one before.
        std::optional<uint32_t>& set = option.Which == Key::Include ? o.Include : o.Exclude;
        set = set.value_or(0) | bits;
      }
      return true;
    case Key::Select:
      o.Action = 0;
      return true;
    case Key::Deselect:
      o.Action = 1;
      return true;
    case Key::Invert:
      o.Action = 2;
      return true;
    case Key::ClearFirst:
      o.ClearFirst = true;
      return true;
    case Key::NoClearFirst:
      o.ClearFirst = false;
      return true;
    case Key::Last:
      o.Last = true;
      o.Reset = false;
      return true;
    case Key::Reset:
      o.Reset = true;
      o.Last = false;
      return true;
    case Key::Interactive:
      o.Interactive = true;
      return true;
    case Key::Explain:
      o.Explain = true;
      return true;
    case Key::Quiet:
      o.Quiet = true;
      return true;
    case Key::Selected:
      o.SelectedFile = std::string(value);
      return true;
    case Key::Plugin:
      o.PluginPath = std::string(value);
      return true;
    case Key::Null:
      o.NullSeparated = true;
      return true;
    case Key::Long:
      o.LongFormat = true;
      return true;
    case Key::Help:
      o.Help = true;
      return true;
    case Key::Version:
      o.Version = true;
      return true;
    case Key::Recursive:
      o.Recursive = true;
      return true;
    case Key::MaxDepth:
      if (!ParseDepth(value, o.MaxDepth)) {
        error = "--max-depth: '" + std::string(value) + "' is not a whole number of 1 or more";
        return false;
      }
      return true;
    case Key::Skip:
      o.Skip.emplace_back(value);
      return true;
    case Key::Follow:
      o.FollowLinks = true;
      return true;
    case Key::SameDevice:
      o.SameDevice = true;
      return true;
  }
  return true;
}

const OptionSpec* FindLong(std::string_view name) {
  for (const OptionSpec& option : kOptions) {
    if (name == option.Name) return &option;
  }
  return nullptr;
}

const OptionSpec* FindShort(char letter) {
  for (const OptionSpec& option : kOptions) {
    if (option.Short != 0 && option.Short == letter) return &option;
  }
  return nullptr;
}

}  // namespace

std::string_view CutToField(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto continues = [&](size_t i) { return (byte(i) & 0xC0) == 0x80; };
  // Find the lead byte of the character at the cut, at most three bytes back.
  size_t lead = limit;
  while (lead > 0 && limit - lead < 3 && continues(lead)) --lead;
  if (lead == limit || continues(lead)) return text.substr(0, limit);
  const unsigned char first = byte(lead);
  const size_t length = first >= 0xF0 && first < 0xF5   ? 4
                        : first >= 0xE0 && first < 0xF0 ? 3
                        : first >= 0xC2 && first < 0xE0 ? 2
                                                        : 1;
  if (lead + length <= limit || lead + length > text.size()) return text.substr(0, limit);
  for (size_t i = lead + 1; i < lead + length; ++i) {
    if (!continues(i)) return text.substr(0, limit);
  }
  return text.substr(0, lead);
}

bool StartsFromStored(const ConsoleOptions& options) {
  return options.Last || (options.Interactive && !options.Reset);
}

const char* AttributeWord(int bit) {
  return bit >= 0 && bit < static_cast<int>(std::size(kAttributeNames)) ? kAttributeNames[bit].Word
                                                                        : "";
}

bool ParseAttributeList(std::string_view list, uint32_t& bits, std::string& bad) {
  bits = 0;
  while (true) {
    const size_t comma = list.find(',');
    const std::string_view name = list.substr(0, comma);
    if (!name.empty()) {
      bool known = false;
      for (uint32_t k = 0; k < std::size(kAttributeNames); ++k) {
        if (EqualNoCase(name, kAttributeNames[k].Letter) ||
            EqualNoCase(name, kAttributeNames[k].Word)) {
          bits |= 1u << k;
          known = true;
        }
      }
      if (!known) {
        bad = std::string(name);
        return false;
      }
    }
    if (comma == std::string_view::npos) return true;
    list.remove_prefix(comma + 1);
  }
}

bool ParseCommandLine(int argc, const char* const* argv, ConsoleOptions& options,
                      std::string& error) {
  bool directoryGiven = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && arg.size() > 2 && arg.substr(0, 2) == "--") {
      const size_t equals = arg.find('=');
      const std::string_view name = arg.substr(2, equals == arg.npos ? arg.npos : equals - 2);
      const OptionSpec* option = FindLong(name);
      if (option == nullptr) {
        error = "unknown option '--" + std::string(name) + "'";
        return false;
      }
      std::string_view value;
      if (option->TakesValue) {
        if (equals != arg.npos) {
          value = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
          value = argv[++i];
        } else {
          error = "option '--" + std::string(name) + "' needs a value";
          return false;
        }
      } else if (equals != arg.npos) {
        error = "option '--" + std::string(name) + "' takes no value";
        return false;
      }
      if (!Apply(*option, value, options, error)) return false;
      continue;
    }
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      for (const char letter : arg.substr(1)) {
        const OptionSpec* option = FindShort(letter);
        if (option == nullptr) {
          error = std::string("unknown option '-") + letter + "'";
          return false;
        }
        if (!Apply(*option, {}, options, error)) return false;
      }
      continue;
    }
    if (directoryGiven) {
      error =
          "more than one directory given ('" + options.Directory + "', '" + std::string(arg) + "')";
      return false;
    }
    options.Directory = std::string(arg);
    options.DirectoryGiven = directoryGiven = true;
  }
  return true;
}

const char* const kHelpText =
    "Usage: marlit [OPTION]... [DIR]\n"
    "Runs the marlit selection command on the entries of DIR (default: the current\n"
    "directory), or with -r on every entry below it, and prints the paths it\n"
    "selects: DIR/path when DIR is given, else the path below the current\n"
    "directory; a directory's entries in name order, each directory's contents\n"
    "right after it.\n"
    "\n"
    "The tree:\n"
    "  -r, --recursive     every entry below DIR, at any depth\n"
    "  --max-depth N       entries at most N levels below DIR (1: DIR's own\n"
    "                      entries only); implies -r\n"
    "  --skip MASK         list directories whose name MASK matches, but not their\n"
    "                      contents (e.g. .git,node_modules; may be given again)\n"
    "  -L, --follow        walk into symbolic links to directories (listed, not\n"
    "                      walked, without it); a link back up the path is not walked\n"
    "  --xdev              do not walk into other file systems\n"
    "\n"
    "Criteria (the fields of the selection dialog):\n"
    "  --mask MASK         wildcard mask: * ? [a-z], a list separated by , or ;,\n"
    "                      patterns after | exclude, \"...\" quotes ,;|;\n"
    "                      case-insensitive; '*.*' is every name\n"
    "  --size TEXT         size in bytes, with k, m or g: A, A..B, A.. or ..B\n"
    "                      (e.g. 10k..2m)\n"
    "  --date TEXT         last-write date D-M-YY or D/M/YY, in the same forms\n"
    "                      (e.g. 1-3-24..31-3-24; local time)\n"
    "  --time TEXT         last-write time of day H:M, in the same forms\n"
    "                      (e.g. 8:00..17:30; local time)\n"
    "  --include LIST      select only entries with at least one of these attributes\n"
    "  --exclude LIST      leave out entries that have all of these attributes\n"
    "  --select            mark the entries that pass (the default)\n"
    "  --deselect          unmark them\n"
    "  --invert            flip their marks\n"
    "  --clear-first       unmark everything before the pass\n"
    "  --no-clear-first    keep the current marks (the default)\n"
    "  --last              start from the criteria stored by the last run instead of\n"
    "                      the defaults; the options above change what they name\n"
    "  --reset             start from the defaults (what a run without -i does)\n"
    "  -i, --interactive   fill in the dialog on the terminal (/dev/tty), starting\n"
    "                      from the stored criteria changed by the options above;\n"
    "                      Tab moves, Space toggles, Enter confirms, Esc cancels,\n"
    "                      F1 helps, Ctrl+Down shows a field's history; the names\n"
    "                      still go to standard output\n"
    "  --explain           tell on standard error how each criterion is read\n"
    "  -q, --quiet         no warnings (criteria read in a surprising way, cut\n"
    "                      texts, missing files, criteria not saved, link loops,\n"
    "                      --selected lines that name no entry), no status line\n"
    "\n"
    "Attribute LIST: comma-separated names, a,r,h,s,d,c or\n"
    "archive,readonly,hidden,system,directory,compressed. From Linux they map as:\n"
    "  a archive     regular files\n"
    "  r readonly    the owner has no write permission\n"
    "  h hidden      the name begins with '.'\n"
    "  s system      devices, FIFOs and sockets\n"
    "  d directory   directories\n"
    "  c compressed  the file system marks the file compressed (FS_COMPR_FL)\n"
    "Symbolic links count as their target, or as the link itself when the target\n"
    "is missing. Directories have size 0.\n"
    "\n"
    "Current selection and output:\n"
    "  --selected FILE     mark the paths listed in FILE (one a line, as marlit\n"
    "                      prints them, with or without DIR/; - for standard input)\n"
    "                      before the command, for --deselect and --invert\n"
    "  -0, --null          paths end with NUL instead of a new line, in the output\n"
    "                      and in the --selected input\n"
    "  -l, --long          also print size, local date and time, and attributes\n"
    "  --plugin PATH       load the plug-in module from PATH (default: marlit.so\n"
    "                      beside the program)\n"
    "  -h, --help          print this help and exit\n"
    "  --version           print the version and exit\n"
    "\n"
    "The criteria are stored after each run ($MARLIT_REGISTRY names the store).\n"
    "Criterion texts longer than a dialog field (511 bytes) are cut, with a warning.\n"
    "On a terminal a status line shows a walk that takes more than a second.\n"
    "Exit status: 0 when something is selected, 1 when nothing is, 2 on an error\n"
    "(also after the output when a directory below DIR could not be read).\n"
    "More in marlit(1).\n";

}  // namespace marlit::console
