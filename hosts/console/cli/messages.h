// The texts the console host serves through GetMsg: the plug-in's language
// file installed beside the program, Russian when the locale asks for it.
#pragma once

#include <string>
#include <string_view>

namespace marlit::console {

// Whether the locale's language, as LC_ALL, LC_MESSAGES and LANG name it (the
// first one set wins), is Russian.
bool LocaleIsRussian();

// The language file to read: marlit_rus.lng or marlit_eng.lng in `directory`.
std::string LanguageFilePath(const std::string& directory, bool russian);

// Loads the messages of the language file in `directory`; a file that cannot
// be read leaves no messages, and MessageText then yields null. Returns what
// is wrong with the file, naming it; empty when it was read whole.
std::string LoadMessages(const std::string& directory);

// The text of a message id, for display; null when there is none.
const char* MessageText(int id);

}  // namespace marlit::console
