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

// At the confirm, before the plug-in acts: how its criteria will be read.
void ReportCriteria(const ConsoleSession& session) {
  DialogResult result;
  if (!ConfirmedValues(session, result)) return;
  const CriteriaReading reading = ReadCriteria(result, kSystemTime);
  if (session.Options->Explain) {
    for (const std::string& line : reading.Lines) Note(line);
  }
  for (const std::string& warning : reading.Warnings) Warn(warning);
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
  int problems = 0;
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
  if (!ListTree(request, session.Items, session.Parents, problems, error)) return Fail(error);
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
  session.OnConfirm = ReportCriteria;
  const bool russian = LocaleIsRussian();
  session.HelpFile = places.Data + (russian ? "/marlit_rus.hlp" : "/marlit_eng.hlp");
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
