// The Linux settings store (the registry file behind platform/registry.h):
// its reader on any file content, and its writer on top of it. Whatever is
// written (a key and a name without control bytes, any type, any bytes)
// reads back equal; every other value reads back as it did before the write;
// a write that fails leaves the file's bytes as they were; writing the same
// value again changes nothing.
//
// Input: u8 mode (bit 0: no file at all), u32 type, u8 key length (0: the
// plug-in's key), u8 name length, u16 value length, then the key, the name
// and the value bytes; the rest of the input is the file's content.
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "host/module.h"
#include "platform/registry.h"
#include "settings/settings.h"

namespace {

using namespace marlit;
using fuzz::InputReader;
using fuzz::Require;
using fuzz::SameNameIgnoringCase;

constexpr const char* kRoot = "Software\\Far\\Plugins";
constexpr const char* kPluginKey = "Software\\Far\\Plugins\\Marlit";
constexpr const char* kNames[] = {"ClearFirst", "Mode", "InAttr", "ExAttr", "Mask",
                                  "Date",       "Time", "Size",   ""};

std::string g_store;

struct Stored {
  RegistryResult Result;
  uint32_t Type;
  std::string Bytes;
  bool operator==(const Stored&) const = default;
};

// Reads one value whole: its size first, then the bytes, then once more into
// a buffer one byte short, which must be refused.
Stored ReadValue(const std::string& key, const std::string& name) {
  Stored value{RegistryResult::Failed, 0, {}};
  uint32_t size = 0;
  value.Result =
      ReadRegistryValue(kHkeyCurrentUser, key.c_str(), name.c_str(), nullptr, &size, &value.Type);
  if (value.Result != RegistryResult::Ok) {
    Require(value.Result != RegistryResult::TooLong, "a size query is never too long");
    value.Type = 0;
    return value;
  }
  std::vector<char> buffer(size + 1, '\x5a');
  uint32_t got = size;
  uint32_t type = 0;
  Require(ReadRegistryValue(kHkeyCurrentUser, key.c_str(), name.c_str(), buffer.data(), &got,
                            &type) == RegistryResult::Ok &&
              got == size && type == value.Type,
          "a value of the size it reported reads whole");
  Require(buffer[size] == '\x5a', "a read stays inside the size it reported");
  value.Bytes.assign(buffer.data(), size);
  if (size > 0) {
    uint32_t shorter = size - 1;
    Require(ReadRegistryValue(kHkeyCurrentUser, key.c_str(), name.c_str(), buffer.data(), &shorter,
                              nullptr) == RegistryResult::TooLong &&
                shorter == size,
            "a buffer one byte short is refused with the size needed");
  }
  return value;
}

// Control bytes cannot stand in a key or value name of the store.
std::string Printable(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (static_cast<unsigned char>(c) < 0x20) c = static_cast<char>(c + 0x40);
  }
  return result;
}

// The settings layer on whatever the file holds: every text it loads is
// terminated inside its buffer.
void LoadThroughSettings() {
  SettingsValues values;
  std::memset(&values, 0x5a, sizeof values);
  LoadSettings(values);
  for (const std::string_view text : {std::string_view(values.Mask, sizeof values.Mask),
                                      std::string_view(values.Date, sizeof values.Date),
                                      std::string_view(values.Time, sizeof values.Time),
                                      std::string_view(values.Size, sizeof values.Size)}) {
    Require(text.find('\0') != std::string_view::npos, "a loaded text is terminated");
  }
  Require(values.InAttr <= kAttributeBits && values.ExAttr <= kAttributeBits, "six bits");
  char small[4];
  GetString(kHkeyCurrentUser, "", "Mask", small, "*.*", sizeof small);
  Require(std::memchr(small, 0, sizeof small) != nullptr, "a short buffer is terminated");
  unsigned char bytes[16];
  GetBinary(kHkeyCurrentUser, "", "Mask", bytes, nullptr, sizeof bytes);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_store = fuzz::ScratchFolder() + "/registry.reg";
  setenv("MARLIT_REGISTRY", g_store.c_str(), 1);
  Require(FormPluginKeyPath(kRoot), "the plug-in key path");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader in{data, size};
  const uint32_t mode = in.Number(1);
  const uint32_t type = in.Number(4);
  const uint32_t keyLength = in.Number(1);
  const uint32_t nameLength = in.Number(1);
  const uint32_t valueLength = in.Number(2);
  const std::string key = keyLength == 0 ? kPluginKey : Printable(in.Bytes(keyLength));
  const std::string name = Printable(in.Bytes(nameLength));
  const std::string value(in.Bytes(valueLength));
  const std::string_view file = in.Rest();

  unlink(g_store.c_str());
  if ((mode & 1) == 0) Require(fuzz::WriteWholeFile(g_store, file), "the store can be written");
  LoadThroughSettings();

  // What the store held before the write, under both keys.
  struct Entry {
    std::string Key, Name;
    Stored Value;
  };
  std::vector<Entry> before;
  std::vector<std::string> keys = {kPluginKey};
  if (!SameNameIgnoringCase(key, kPluginKey)) keys.push_back(key);
  for (const std::string& k : keys) {
    for (const char* n : kNames) before.push_back(Entry{k, n, ReadValue(k, n)});
  }
  before.push_back(Entry{key, name, ReadValue(key, name)});
  std::string bytesBefore;
  const bool hadFile = fuzz::ReadWholeFile(g_store, bytesBefore);

  const RegistryResult written =
      WriteRegistryValue(kHkeyCurrentUser, key.c_str(), name.c_str(), type, value.data(),
                         static_cast<uint32_t>(value.size()));
  std::string bytesAfter;
  const bool hasFile = fuzz::ReadWholeFile(g_store, bytesAfter);
  if (written != RegistryResult::Ok) {
    Require(hasFile == hadFile && bytesAfter == bytesBefore, "a failed write changes nothing");
    return 0;
  }
  Require(ReadValue(key, name) == (Stored{RegistryResult::Ok, type, value}),
          "a written value reads back equal");
  for (const Entry& entry : before) {
    if (SameNameIgnoringCase(entry.Key, key) && SameNameIgnoringCase(entry.Name, name)) continue;
    Require(ReadValue(entry.Key, entry.Name) == entry.Value, "a write keeps every other value");
  }
  Require(WriteRegistryValue(kHkeyCurrentUser, key.c_str(), name.c_str(), type, value.data(),
                             static_cast<uint32_t>(value.size())) == RegistryResult::Ok,
          "the same value can be written again");
  std::string bytesAgain;
  Require(fuzz::ReadWholeFile(g_store, bytesAgain) && bytesAgain == bytesAfter,
          "writing the same value again changes nothing");
  LoadThroughSettings();
  return 0;
}
