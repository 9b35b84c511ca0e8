// Windows only: the settings store when the registry refuses the plug-in
// key. The module is driven through its entry points by the test host; the
// keys are made so that the plug-in key "<root>\Marlit" cannot be created
// (its parent is volatile) or cannot be opened for writing (its security
// denies it; Wine checks that when a key is opened, not when a subkey is
// created). The command must still mark the panel, and the next run must
// load the defaults, since nothing could be stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/panel.h"
#include "testhost/testhost.h"

// After the host records: windows.h defines macros that share their names.
#include <windows.h>

namespace marlit {
namespace {

namespace th = testhost;
using test::attr::A;

constexpr uint32_t SEL = PPIF_SELECTED;
constexpr int kMask = 2, kConfirm = 30, kCancel = 31;
constexpr const char* kParent = "Software\\MarlitFaults";

enum class Refusal {
  Denied,    // the plug-in key is there, but its security denies writing to everyone
  Volatile,  // the root key is volatile: a lasting subkey cannot go under it
};

// Makes the keys so that the plug-in key cannot be created or opened for
// writing; false when the registry would not make them so.
bool MakeRefusingKey(const std::string& root, Refusal refusal) {
  HKEY key = nullptr;
  const DWORD options = refusal == Refusal::Volatile ? REG_OPTION_VOLATILE : 0;
  const std::string path = refusal == Refusal::Volatile ? root : root + "\\Marlit";
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool made = true;
  if (refusal == Refusal::Denied) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    alignas(DWORD) unsigned char aclBytes[256];
    auto* acl = reinterpret_cast<PACL>(aclBytes);
    SECURITY_DESCRIPTOR descriptor;
    made =
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone) &&
        InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) &&
        AddAccessDeniedAce(acl, ACL_REVISION, KEY_CREATE_SUB_KEY | KEY_SET_VALUE, everyone) &&
        AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone) &&
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
    if (everyone != nullptr) FreeSid(everyone);
  }
  RegCloseKey(key);
  return made;
}

// Whether the plug-in key under root can be created or opened for writing,
// as the store does it.
bool PluginKeyWritable(const std::string& root) {
  HKEY key = nullptr;
  const std::string path = root + "\\Marlit";
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

struct RefusalCase {
  const char* Name;
  Refusal Kind;
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.Name; }

class RefusedKey : public ::testing::TestWithParam<RefusalCase> {
 protected:
  std::string Root;
  th::Module Module;

  void SetUp() override {
    Root = std::string(kParent) + "\\" + GetParam().Name;
    RemoveKeys();
    ASSERT_TRUE(th::ResetHost(nullptr, Root));
    std::string error;
    ASSERT_TRUE(th::StartModule(MARLIT_MODULE_FILE, Module, error)) << error;
  }

  void TearDown() override {
    th::UnloadModule(Module);
    RemoveKeys();
  }

  void RemoveKeys() {
    RegDeleteKeyA(HKEY_CURRENT_USER, (Root + "\\Marlit").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, Root.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, kParent);
  }

  // One run with the given user actions on a panel of two unselected items;
  // the flags afterwards.
  std::vector<uint32_t> Run(std::vector<th::DialogAction> script) {
    th::Host.Items = {test::MakeItem({"a.txt", 10, A}), test::MakeItem({"b.log", 20, A})};
    th::Host.Script = std::move(script);
    th::Host.NextAction = 0;
    th::Host.Dialogs.clear();
    th::Host.Calls.clear();
    Module.OpenPlugin(0, 0);
    std::vector<uint32_t> flags;
    for (const PluginPanelItem& item : th::Host.Items) {
      const uint32_t f = item.Flags;
      flags.push_back(f);
    }
    return flags;
  }
};

TEST_P(RefusedKey, StillMarksThePanelAndLoadsDefaultsNextTime) {
  ASSERT_TRUE(MakeRefusingKey(Root, GetParam().Kind));
  ASSERT_FALSE(PluginKeyWritable(Root));

  EXPECT_EQ(Run({th::SetText(kMask, "*.log"), th::Press(kConfirm)}),
            (std::vector<uint32_t>{0, SEL}));
  EXPECT_EQ(th::Host.Calls.size(), 3u) << "the selection is handed back and the panel redrawn";

  Run({th::Press(kCancel)});
  ASSERT_EQ(th::Host.Dialogs.size(), 1u);
  EXPECT_EQ(th::Host.Dialogs[0].Items[kMask].Data, "*.*") << "nothing was stored";
}

INSTANTIATE_TEST_SUITE_P(Registry, RefusedKey,
                         ::testing::Values(RefusalCase{"Denied", Refusal::Denied},
                                           RefusalCase{"Volatile", Refusal::Volatile}),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) {
                           return std::string(info.param.Name);
                         });

}  // namespace
}  // namespace marlit
