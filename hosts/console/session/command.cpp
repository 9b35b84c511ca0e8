#include "console/session/command.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "console/cli/explain.h"
#include "console/cli/messages.h"
#include "console/cli/options.h"
#include "console/cli/selection_io.h"
#include "console/dialog/history.h"
#include "console/session/plugin_loader.h"
#include "console/session/program_files.h"
#include "console/session/session.h"
#include "console/session/store_check.h"
#include "console/session/wildcard.h"
#include "engine/criteria.h"
#include "engine/selection.h"
#include "platform/text.h"

namespace marlit::console {
namespace {

constexpr int kStatusSelected = 0;
constexpr int kStatusNothing = 1;
constexpr int kStatusError = 2;

// Lines for standard error beside the output. The walk's warnings are told
// as it meets them; what --explain tells, the warnings about the criteria
// and the problems of describing entries follow all of them, as they follow
// a walk that lists the whole tree first. While the terminal dialog owns the
// screen every line is held, and printed once it has given the terminal back.
struct Notes {
  std::FILE* Err = stderr;
  bool Quiet = false;
  bool Hold = false;
  std::vector<std::string> Held;
  std::vector<std::string> Later;
};
Notes g_notes;

void Note(const std::string& line) {
  if (g_notes.Hold) {
    g_notes.Held.push_back(line);
  } else {
    std::fprintf(g_notes.Err, "marlit: %s\n", line.c_str());
  }
}

void NoteLater(const std::string& line) { g_notes.Later.push_back(line); }

void Warn(const std::string& text) {
  if (!g_notes.Quiet) Note("warning: " + text);
}

void WarnLater(const std::string& text) {
  if (!g_notes.Quiet) NoteLater("warning: " + text);
}

void ReleaseNotes() {
  g_notes.Hold = false;
  for (const std::string& line : g_notes.Held) Note(line);
  g_notes.Held.clear();
}

void ReleaseLaterNotes() {
  for (const std::string& line : g_notes.Later) Note(line);
  g_notes.Later.clear();
}

int Fail(const std::string& message) {
  ReleaseNotes();
  ReleaseLaterNotes();
  std::fprintf(g_notes.Err, "marlit: %s\n", message.c_str());
  return kStatusError;
}

// The values the plug-in takes from the confirmed dialog, read as it reads
// them; false before a confirm.
bool ConfirmedValues(const ConsoleSession& session, DialogResult& result) {
  if (session.Confirmed.size() != kDialogItemCount) return false;
  FarDialogItem items[kDialogItemCount];
  std::copy(session.Confirmed.begin(), session.Confirmed.end(), items);
  result = DialogResult{};
  ReadDialogItems(items, result);
  return true;
}

std::string_view WholeText(const char (&text)[kDialogTextSize]) {
  return std::string_view(text, BoundedLength(text, sizeof text));
}

// The attribute bits of the include and exclude sets whose attributes only
// a description gives, of any entry and of a directory.
uint32_t AttributeBits(uint32_t attributes) {
  uint32_t bits = 0;
  for (int bit = 0; bit < kAttributeCount; ++bit) {
    if ((kAttributeMasks[bit] & attributes) != 0) bits |= 1u << bit;
  }
  return bits;
}

// What the plug-in will look at beyond the names of the items whose names
// its mask matches: any fact (a size, date or time criterion, or an
// attribute other than hidden, which the name gives; a link counts as its
// target, so even the directory attribute needs the entry described); and of
// a directory, whose type says that it is one, of size 0, neither archive nor
// system: its last write, read-only or compressed.
struct FactsNeeded {
  bool Any;
  bool OfDirectories;
};

FactsNeeded CriteriaNeedFacts(const DialogResult& result) {
  SelectionCriteria criteria{};
  ParseCriteria(WholeText(result.SizeText), WholeText(result.DateText), WholeText(result.TimeText),
                kSystemTime, criteria);
  const uint32_t sets = result.Values.InAttr | result.Values.ExAttr;
  const bool written = criteria.DateKind != RangeKind::None || criteria.TimeKind != RangeKind::None;
  const uint32_t ofAny = AttributeBits(~uint32_t{FILE_ATTRIBUTE_HIDDEN});
  const uint32_t ofDirectories = AttributeBits(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_COMPRESSED);
  return FactsNeeded{written || criteria.SizeKind != RangeKind::None || (sets & ofAny) != 0,
                     written || (sets & ofDirectories) != 0};
}

// The run's listing; the confirm tells it what to describe.
TreeListing* g_listing = nullptr;

// Which entries the selection or -l will look at. An item passes only if
// the mask matches its name (the plug-in tests the mask first), so only
// those are described; items marked by --selected may stay selected whatever
// their names, so -l with --selected describes them all.
DescribeRule RuleFor(const ConsoleSession& session, const DialogResult& result) {
  DescribeRule rule;
  const ConsoleOptions& options = *session.Options;
  const FactsNeeded needed = CriteriaNeedFacts(result);
  if (!options.LongFormat && !needed.Any) return rule;
  rule.What = options.LongFormat && options.SelectedFile.has_value() ? DescribeWhat::Every
                                                                     : DescribeWhat::Matching;
  rule.Mask = WholeText(result.Mask);
  rule.Directories = options.LongFormat || needed.OfDirectories;
  return rule;
}

// At the confirm, before the plug-in acts: how its criteria will be read,
// and what the walk is to describe.
void OnConfirm(ConsoleSession& session) {
  DialogResult result;
  if (!ConfirmedValues(session, result)) return;
  const CriteriaReading reading = ReadCriteria(result, kSystemTime);
  if (session.Options->Explain) {
    for (const std::string& line : reading.Lines) NoteLater(line);
  }
  for (const std::string& warning : reading.Warnings) WarnLater(warning);
  if (g_listing != nullptr) DescribeFor(*g_listing, RuleFor(session, result));
}

void BeforeOutput(ConsoleSession&) {
  if (g_listing != nullptr) ClearStatus(*g_listing);
}

std::string AbsolutePath(const std::string& path) {
  char* const resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string whole(resolved);
  std::free(resolved);
  return whole;
}

// What each printed path begins with: DIR and a '/' when DIR is given (as
// find prints), nothing when the current directory is listed by default.
std::string ShownPrefix(const ConsoleOptions& options) {
  if (!options.DirectoryGiven) return "";
  return options.Directory.ends_with('/') ? options.Directory : options.Directory + "/";
}

// Everything of one run that outlives a window.
struct Run {
  ConsoleOptions Options;
  ConsoleSession Session;
  ListingRequest Request;
  TreeListing Listing;
  PanelWindow Window;
  ListedPaths Listed;
  PluginEntries Plugin{};
  TerminalDialogEntries Screen{};
};

int RunWith(Run& run, int argc, const char* const* argv, const CommandStreams& streams) {
  ConsoleOptions& options = run.Options;
  std::string error;
  if (!ParseCommandLine(argc, argv, options, error)) return Fail(error + " (see marlit --help)");
  g_notes.Quiet = options.Quiet;
  // The terminal dialog would cover what is printed before it.
  g_notes.Hold = options.Interactive && !options.Help && !options.Version;
  for (const std::string& warning : options.Warnings) Warn(warning);
  if (options.Help) {
    std::fputs(kHelpText, streams.Out);
    return kStatusSelected;
  }
  if (options.Version) {
    std::fprintf(streams.Out, "marlit %s\n", MARLIT_VERSION);
    return kStatusSelected;
  }

  const ProgramPlaces places = LocateProgramPlaces(
      streams.ProgramDirectory != nullptr ? streams.ProgramDirectory : ProgramDirectory());
  const std::string pluginPath =
      options.PluginPath.empty() ? places.Modules + "/" + kPluginModule : options.PluginPath;
  if (!LoadPlugin(pluginPath, run.Plugin, error)) return Fail(error);

  ConsoleSession& session = run.Session;
  session.Options = &options;
  session.Out = streams.Out;
  session.Shown = ShownPrefix(options);
  session.Window = &run.Window;
  ListingRequest& request = run.Request;
  request.Directory = options.Directory.c_str();
  request.Shown = session.Shown;
  request.MaxDepth = options.MaxDepth != 0 ? options.MaxDepth : options.Recursive ? 0 : 1;
  request.Flags =
      (options.FollowLinks ? kWalkFollowLinks : 0u) | (options.SameDevice ? kWalkSameDevice : 0u);
  request.Skip = options.Skip;
  request.Match = ConsoleCmpName;
  request.Progress = isatty(fileno(g_notes.Err)) == 1 && !options.Quiet;
  request.Quiet = options.Quiet;
  request.Tell = Note;
  request.TellLater = NoteLater;
  if (!OpenListing(request, run.Listing, error)) return Fail(error);
  session.CurDir = AbsolutePath(options.Directory);
  if (options.SelectedFile) {
    std::string listed;
    if (!ReadWholeFile(*options.SelectedFile, listed, error)) return Fail(error);
    ReadListedPaths(std::move(listed), options.NullSeparated ? '\0' : '\n', session.Shown,
                    run.Listed);
  }
  if (const std::string problem = LoadMessages(places.Data); !problem.empty()) {
    WarnLater(problem + " (the dialog shows message numbers instead of its texts)");
  }
  session.Message = MessageText;
  session.OnConfirm = OnConfirm;
  session.BeforeOutput = BeforeOutput;
  const bool russian = LocaleIsRussian();
  session.HelpFile = places.Data + (russian ? "/marlit_rus.hlf" : "/marlit_eng.hlf");
  session.HelpInCp866 = russian;
  session.HistoryFile = HistoryFilePath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));

  // The module's own folder is known whole; a path given is made absolute.
  const PluginStartupInfo info =
      MakeStartupInfo((options.PluginPath.empty() ? pluginPath : AbsolutePath(pluginPath)).c_str());
  run.Plugin.SetStartupInfo(&info);
  PluginInfo pluginInfo{};
  run.Plugin.GetPluginInfo(&pluginInfo);
  if (pluginInfo.PluginMenuStringsNumber < 1 || pluginInfo.PluginMenuStrings == nullptr ||
      pluginInfo.PluginMenuStrings[0] == nullptr) {
    return Fail("the plug-in offers no menu entry");
  }
  if (options.Interactive) {
    if (!LoadTerminalDialog(places.Modules + "/" + kTerminalDialogModule, run.Screen, error) ||
        !run.Screen.Start(error)) {
      return Fail(error);
    }
    session.Answer = run.Screen.Answer;
  }
  // The first command: the dialog, on an empty panel.
  TakeSelection(session);
  run.Plugin.OpenPlugin(0, 0);
  if (run.Screen.Stop != nullptr) run.Screen.Stop();
  ReleaseNotes();

  // Then the entries, a window at a time.
  bool drawnAgain = session.Redraws > 0;
  LocalZone zone = OpenLocalZone(kSystemTime, options.LongFormat ? streams.WindowEntries : 0);
  session.Zone = &zone;
  while (drawnAgain &&
         NextWindow(run.Listing, run.Window, std::max<size_t>(1, streams.WindowEntries))) {
    if (options.SelectedFile) MarkListedPaths(run.Listed, run.Window);
    TakeSelection(session);
    const int before = session.Redraws;
    run.Plugin.OpenPlugin(0, 0);
    drawnAgain = session.Redraws > before;
  }
  ClearStatus(run.Listing);
  session.Zone = nullptr;
  // Cancelled, nothing was walked to find the listed paths in.
  if (options.SelectedFile && session.Redraws > 0) {
    if (const size_t unnamed = UnnamedPaths(run.Listed); unnamed > 0) {
      Warn("--selected: " + std::to_string(unnamed) +
           (unnamed == 1 ? " line names" : " lines name") + " no entry, ignored");
    }
  }
  ReleaseLaterNotes();
  if (DialogResult result; ConfirmedValues(session, result)) {
    const std::string problem = CheckSavedSettings(result.Values, kConsoleRootKey);
    if (!problem.empty()) Warn(problem);
  }

  if (std::fflush(streams.Out) != 0 || std::ferror(streams.Out) != 0) {
    return Fail("cannot write the output");
  }
  if (run.Listing.Problems > 0) return kStatusError;
  // No redraw: the dialog was cancelled and nothing was selected.
  if (session.Redraws == 0) return kStatusNothing;
  return session.Printed > 0 ? kStatusSelected : kStatusNothing;
}

}  // namespace

int RunCommand(int argc, const char* const* argv, const CommandStreams& streams) {
  g_notes = Notes{};
  g_notes.Err = streams.Err;
  Run run;
  g_session = &run.Session;
  g_listing = &run.Listing;
  struct Leave {
    ~Leave() {
      g_session = nullptr;
      g_listing = nullptr;
    }
  } leave;
  return RunWith(run, argc, argv, streams);
}

}  // namespace marlit::console
