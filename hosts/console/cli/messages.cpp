#include "console/cli/messages.h"

#include <cstdlib>
#include <vector>

#include "common/lang_file.h"

namespace marlit::console {
namespace {

// The loaded texts, ready for display; they live as long as the program, as
// GetMsg promises the plug-in.
std::vector<std::string> g_messages;

}  // namespace

bool LocaleIsRussian() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return std::string_view(value).substr(0, 2) == "ru";
  }
  return false;
}

std::string LanguageFilePath(const std::string& directory, bool russian) {
  return directory + (russian ? "/marlit_rus.lng" : "/marlit_eng.lng");
}

std::string LoadMessages(const std::string& directory) {
  const bool russian = LocaleIsRussian();
  LangFile file = LoadLangFile(LanguageFilePath(directory, russian));
  g_messages = std::move(file.Messages);
  // The Russian file is in code page 866; the terminal shows UTF-8.
  if (russian) {
    for (std::string& text : g_messages) text = Cp866ToUtf8(text);
  }
  return file.Error;
}

const char* MessageText(int id) {
  if (id < 0 || static_cast<size_t>(id) >= g_messages.size()) return nullptr;
  return g_messages[static_cast<size_t>(id)].c_str();
}

}  // namespace marlit::console
