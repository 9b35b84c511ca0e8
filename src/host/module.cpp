#include "host/module.h"

#include "platform/text.h"

namespace marlit {

PluginStartupInfo StartupInfo{};
char PluginKeyPath[kKeyPathSize] = "";

bool FormPluginKeyPath(const char* rootKey) {
  if (rootKey == nullptr) {
    PluginKeyPath[0] = '\0';
    return false;
  }
  return JoinText(PluginKeyPath, sizeof PluginKeyPath, rootKey, kPluginKeyName, "");
}

}  // namespace marlit
