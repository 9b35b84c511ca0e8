// Whether the criteria a run confirmed reached the settings store. The plug-in
// reports nothing when a save fails, so the host reads the values back
// itself, through its own copy of the same store code.
#pragma once

#include <string>

#include "settings/settings.h"

namespace marlit::console {

// Reads the eight values under the plug-in's key (the host's `rootKey`
// followed by "\Marlit") and compares them with those the plug-in was to
// save. Returns an empty text when every
// one is there as saved, else one line that says the criteria were not saved,
// why and where.
std::string CheckSavedSettings(const SettingsValues& saved, const char* rootKey);

}  // namespace marlit::console
