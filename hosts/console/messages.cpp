#include "messages.h"

#include <cstdlib>

namespace marlit::console {

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

void LoadMessages(const std::string& directory) { static_cast<void>(directory); }

const char* MessageText(int id) {
  static_cast<void>(id);
  return nullptr;
}

}  // namespace marlit::console
