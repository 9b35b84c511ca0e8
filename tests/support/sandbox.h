// A store of its own for every test, removed afterwards. Each test works
// under its own key "Software\MarlitTest\<test>" of the current user; the
// native build also gives it a fresh registry file in a folder of its own
// (through $MARLIT_REGISTRY), the Windows build uses Wine's registry.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host/module.h"
#include "platform/registry.h"

namespace marlit {

// Sets up the platform's part of the sandbox; `file` gets the registry file
// the store uses, or "" where the store is the system's registry.
bool EnterSandbox(std::string& file);
void LeaveSandbox();

class Sandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(EnterSandbox(File));
    Key = std::string("Software\\MarlitTest\\") +
          ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : Key) {
      if (c == '/') c = '_';  // parameterised test names
    }
    ASSERT_TRUE(FormPluginKeyPath(Key.c_str()));
    PluginKey = PluginKeyPath;
  }

  void TearDown() override {
    PluginKeyPath[0] = '\0';
    DeleteRegistryKey(kHkeyCurrentUser, Key.c_str());
    LeaveSandbox();
  }

  std::string File;       // "" under Windows
  std::string Key;        // the test's own key
  std::string PluginKey;  // Key + "\Marlit", the plug-in key path
};

}  // namespace marlit
