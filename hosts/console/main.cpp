// marlit: the console host. Lists a directory as the active panel, loads the
// plug-in, answers its selection dialog from the command line (or, with -i,
// lets a person fill it in on the terminal) and prints the selection the
// plug-in hands back.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "console/dialog/history.h"
#include "console/explain.h"
#include "console/listing.h"
#include "console/messages.h"
#include "console/options.h"
#include "console/plugin_loader.h"
#include "console/program_files.h"
#include "console/selection_io.h"
#include "console/session.h"
#include "console/store_check.h"
#include "engine/criteria.h"
#include "engine/selection.h"
#include "platform/text.h"

namespace {

using namespace marlit;
using namespace marlit::console;

constexpr int kStatusSelected = 0;
constexpr int kStatusNothing = 1;
constexpr int kStatusError = 2;

// Lines for standard error beside the output: warnings (which -q silences)
// and what --explain tells. While the terminal dialog owns the screen they
// are held, and printed once it has given the terminal back.
struct Notes {
  bool Quiet = false;
  bool Hold = false;
  std::vector<std::string> Held;
};
Notes g_notes;

void Note(const std::string& line) {
  if (g_notes.Hold) {
    g_notes.Held.push_back(line);
  } else {
    std::fprintf(stderr, "marlit: %s\n", line.c_str());
  }
}

void Warn(const std::string& text) {
  if (!g_notes.Quiet) Note("warning: " + text);
}

void ReleaseNotes() {
  g_notes.Hold = false;
  for (const std::string& line : g_notes.Held) Note(line);
  g_notes.Held.clear();
}

int Fail(const std::string& message) {
  ReleaseNotes();
  std::fprintf(stderr, "marlit: %s\n", message.c_str());
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

// The listing, kept until the confirm completes the panel.
struct Listed {
  const ListingRequest* Request = nullptr;
  WalkedTree Tree;
  int Problems = 0;
};
Listed g_listed;

std::string_view WholeText(const char (&text)[kDialogTextSize]) {
  return std::string_view(text, BoundedLength(text, sizeof text));
}

// Whether the plug-in will look at more than the names of the items whose
// names its mask matches: a size, date or time criterion, or an attribute
// other than hidden (which the name gives; a link counts as its target, so
// even the directory attribute needs the entry described).
bool CriteriaNeedFacts(const DialogResult& result) {
  SelectionCriteria criteria{};
  ParseCriteria(WholeText(result.SizeText), WholeText(result.DateText), WholeText(result.TimeText),
                kSystemTime, criteria);
  if (criteria.SizeKind != RangeKind::None || criteria.DateKind != RangeKind::None ||
      criteria.TimeKind != RangeKind::None) {
    return true;
  }
  uint32_t described = 0;
  for (int bit = 0; bit < kAttributeCount; ++bit) {
    if (kAttributeMasks[bit] != FILE_ATTRIBUTE_HIDDEN) described |= 1u << bit;
  }
  return ((result.Values.InAttr | result.Values.ExAttr) & described) != 0;
}

// At the confirm, before the plug-in acts: describes the entries that the
// selection or -l will look at. An item passes only if the mask matches its
// name (the plug-in tests the mask first), so only those are described;
// items marked by --selected may stay selected whatever their names, so -l
// with --selected describes them all.
void CompletePanel(ConsoleSession& session, const DialogResult& result) {
  if (g_listed.Request == nullptr) return;
  if (!session.Options->LongFormat && !CriteriaNeedFacts(result)) return;
  const std::string mask(WholeText(result.Mask));
  const bool every = session.Options->LongFormat && session.Options->SelectedFile.has_value();
  DescribeListed(*g_listed.Request, g_listed.Tree, every ? nullptr : &mask, session.Items,
                 session.Parents, session.Gone, g_listed.Problems);
  RefreshMarkedCopies(session);
  g_listed.Tree = WalkedTree();
}

// At the confirm, before the plug-in acts: how its criteria will be read,
// and the panel completed for them.
void OnConfirm(ConsoleSession& session) {
  DialogResult result;
  if (!ConfirmedValues(session, result)) return;
  const CriteriaReading reading = ReadCriteria(result, kSystemTime);
  if (session.Options->Explain) {
    for (const std::string& line : reading.Lines) Note(line);
  }
  for (const std::string& warning : reading.Warnings) Warn(warning);
  CompletePanel(session, result);
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

int Run(int argc, const char* const* argv) {
  ConsoleOptions options;
  std::string error;
  if (!ParseCommandLine(argc, argv, options, error)) return Fail(error + " (see marlit --help)");
  g_notes.Quiet = options.Quiet;
  // The terminal dialog would cover what is printed before it.
  g_notes.Hold = options.Interactive && !options.Help && !options.Version;
  for (const std::string& warning : options.Warnings) Warn(warning);
  if (options.Help) {
    std::fputs(kHelpText, stdout);
    return kStatusSelected;
  }
  if (options.Version) {
    std::printf("marlit %s\n", MARLIT_VERSION);
    return kStatusSelected;
  }

  const ProgramPlaces places = LocateProgramPlaces(ProgramDirectory());
  const std::string pluginPath =
      options.PluginPath.empty() ? places.Modules + "/" + kPluginModule : options.PluginPath;
  PluginEntries plugin{};
  if (!LoadPlugin(pluginPath, plugin, error)) return Fail(error);

  ConsoleSession session;
  session.Options = &options;
  session.Shown = ShownPrefix(options);
  int& problems = g_listed.Problems;
  ListingRequest request;
  request.Directory = options.Directory.c_str();
  request.Shown = session.Shown;
  request.MaxDepth = options.MaxDepth != 0 ? options.MaxDepth : options.Recursive ? 0 : 1;
  request.Flags =
      (options.FollowLinks ? kWalkFollowLinks : 0u) | (options.SameDevice ? kWalkSameDevice : 0u);
  request.Skip = options.Skip;
  request.Progress = isatty(STDERR_FILENO) == 1 && !options.Quiet;
  request.Quiet = options.Quiet;
  request.Tell = Note;
  request.NamesOnly = true;
  if (!ListTree(request, session.Items, session.Parents, problems, error, &g_listed.Tree)) {
    return Fail(error);
  }
  g_listed.Request = &request;
  session.CurDir = AbsolutePath(options.Directory);
  if (options.SelectedFile) {
    std::string listed;
    if (!ReadWholeFile(*options.SelectedFile, listed, error)) return Fail(error);
    const size_t unnamed = MarkListedPaths(listed, options.NullSeparated ? '\0' : '\n',
                                           session.Shown, session.Items, session.Parents);
    if (unnamed > 0) {
      Warn("--selected: " + std::to_string(unnamed) +
           (unnamed == 1 ? " line names" : " lines name") + " no entry, ignored");
    }
  }
  TakeSelection(session);
  if (const std::string problem = LoadMessages(places.Data); !problem.empty()) {
    Warn(problem + " (the dialog shows message numbers instead of its texts)");
  }
  session.Message = MessageText;
  session.OnConfirm = OnConfirm;
  const bool russian = LocaleIsRussian();
  session.HelpFile = places.Data + (russian ? "/marlit_rus.hlf" : "/marlit_eng.hlf");
  session.HelpInCp866 = russian;
  session.HistoryFile = HistoryFilePath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));

  g_session = &session;
  // The module's own folder is known whole; a path given is made absolute.
  const PluginStartupInfo info =
      MakeStartupInfo((options.PluginPath.empty() ? pluginPath : AbsolutePath(pluginPath)).c_str());
  plugin.SetStartupInfo(&info);
  PluginInfo pluginInfo{};
  plugin.GetPluginInfo(&pluginInfo);
  if (pluginInfo.PluginMenuStringsNumber < 1 || pluginInfo.PluginMenuStrings == nullptr ||
      pluginInfo.PluginMenuStrings[0] == nullptr) {
    g_session = nullptr;
    return Fail("the plug-in offers no menu entry");
  }
  TerminalDialogEntries screen{};
  if (options.Interactive) {
    if (!LoadTerminalDialog(places.Modules + "/" + kTerminalDialogModule, screen, error) ||
        !screen.Start(error)) {
      g_session = nullptr;
      return Fail(error);
    }
    session.Answer = screen.Answer;
  }
  plugin.OpenPlugin(0, 0);
  g_session = nullptr;
  if (screen.Stop != nullptr) screen.Stop();
  ReleaseNotes();
  if (DialogResult result; ConfirmedValues(session, result)) {
    const std::string problem = CheckSavedSettings(result.Values, kConsoleRootKey);
    if (!problem.empty()) Warn(problem);
  }

  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) return Fail("cannot write the output");
  if (problems > 0) return kStatusError;
  // No redraw: the dialog was cancelled and nothing was selected.
  if (session.Redraws == 0) return kStatusNothing;
  return session.LastDrawnCount > 0 ? kStatusSelected : kStatusNothing;
}

}  // namespace

// Memory can run out anywhere for a large tree or a long --selected list:
// the program then ends with a message, not with an abort.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("marlit: not enough memory\n", stderr);
    return kStatusError;
  }
}
