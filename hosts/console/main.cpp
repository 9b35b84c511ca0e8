// marlit: the console host. Lists a directory as the active panel, loads the
// plug-in, answers its selection dialog from the command line (or, with -i,
// lets a person fill it in on the terminal) and prints the selection the
// plug-in hands back.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "console/dialog/history.h"
#include "console/listing.h"
#include "console/messages.h"
#include "console/options.h"
#include "console/plugin_loader.h"
#include "console/selection_io.h"
#include "console/session.h"

namespace {

using namespace marlit;
using namespace marlit::console;

constexpr int kStatusSelected = 0;
constexpr int kStatusNothing = 1;
constexpr int kStatusError = 2;

int Fail(const std::string& message) {
  std::fprintf(stderr, "marlit: %s\n", message.c_str());
  return kStatusError;
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
  for (const std::string& warning : options.Warnings) {
    std::fprintf(stderr, "marlit: warning: %s\n", warning.c_str());
  }
  if (options.Help) {
    std::fputs(kHelpText, stdout);
    return kStatusSelected;
  }
  if (options.Version) {
    std::printf("marlit %s\n", MARLIT_VERSION);
    return kStatusSelected;
  }

  const std::string programDirectory = ProgramDirectory();
  const std::string pluginPath =
      options.PluginPath.empty() ? ModulePath(kPluginModule) : options.PluginPath;
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
  request.Progress = isatty(STDERR_FILENO) == 1;
  if (!ListTree(request, session.Items, session.Parents, problems, error)) return Fail(error);
  session.CurDir = AbsolutePath(options.Directory);
  if (options.SelectedFile) {
    std::string listed;
    if (!ReadWholeFile(*options.SelectedFile, listed, error)) return Fail(error);
    const size_t unnamed = MarkListedPaths(listed, options.NullSeparated ? '\0' : '\n',
                                           session.Shown, session.Items, session.Parents);
    if (unnamed > 0) {
      std::fprintf(stderr, "marlit: warning: --selected: %zu line%s no entry, ignored\n", unnamed,
                   unnamed == 1 ? " names" : "s name");
    }
  }
  TakeSelection(session);
  LoadMessages(programDirectory);
  session.Message = MessageText;
  const bool russian = LocaleIsRussian();
  session.HelpFile = programDirectory + (russian ? "/marlit_rus.hlp" : "/marlit_eng.hlp");
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
    if (!LoadTerminalDialog(ModulePath(kTerminalDialogModule), screen, error) ||
        !screen.Start(error)) {
      g_session = nullptr;
      return Fail(error);
    }
    session.Answer = screen.Answer;
  }
  plugin.OpenPlugin(0, 0);
  g_session = nullptr;
  if (screen.Stop != nullptr) screen.Stop();

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
