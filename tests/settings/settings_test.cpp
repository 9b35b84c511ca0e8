// The settings store through its public operations, in both builds: natively
// over the registry file, under Wine over Wine's own registry.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "host/module.h"
#include "platform/registry.h"
#include "support/sandbox.h"
#include "support/settings_check.h"

namespace marlit {
namespace {

using SettingsTest = Sandbox;

constexpr RegistryRoot kRoot = kHkeyCurrentUser;

std::string Repeat(char c, size_t count) { return std::string(count, c); }

// A value as it is stored: type and bytes, or the read's failure.
struct Stored {
  RegistryResult Result;
  uint32_t Type;
  std::string Bytes;
};

Stored ReadStored(const std::string& key, const char* name) {
  char buffer[1024];
  uint32_t size = sizeof buffer;
  uint32_t type = 0;
  const RegistryResult result = ReadRegistryValue(kRoot, key.c_str(), name, buffer, &size, &type);
  if (result != RegistryResult::Ok) return {result, 0, ""};
  return {result, type, std::string(buffer, size)};
}

// Values no default equals, so that a test sees which ones were read.
SettingsValues Unusual() {
  SettingsValues values;
  std::memset(&values, 0x5a, sizeof values);
  values.ClearFirst = 1;
  values.Mode = 2;
  values.InAttr = 0x21;
  values.ExAttr = 0x12;
  std::strcpy(values.Mask, "*.txt,*.doc");
  std::strcpy(values.Date, "1.1.2020..31.12.2020");
  std::strcpy(values.Time, "8:00..17:30");
  std::strcpy(values.Size, "1K..1M");
  return values;
}

void ExpectDefaults(const SettingsValues& values) {
  test::ExpectSameSettings(values, test::DefaultSettings());
}

// ---- Loading and saving the eight values --------------------------------------------

TEST_F(SettingsTest, FirstRunWithNoKeyLoadsTheDefaults) {
  SettingsValues values;
  std::memset(&values, 0x5a, sizeof values);
  LoadSettings(values);
  ExpectDefaults(values);
  for (size_t i = std::strlen(values.Mask); i < kMaskValueSize; ++i) {
    ASSERT_EQ(values.Mask[i], '\0') << "mask byte " << i;
  }
}

TEST_F(SettingsTest, SavedValuesLoadBack) {
  const SettingsValues saved = Unusual();
  SaveSettings(saved);
  SettingsValues loaded;
  std::memset(&loaded, 0, sizeof loaded);
  LoadSettings(loaded);
  test::ExpectSameSettings(loaded, saved);
}

TEST_F(SettingsTest, ValuesAreStoredWithTheirNamesAndTypes) {
  SaveSettings(Unusual());
  struct Row {
    const char* Name;
    uint32_t Type;
    std::string Bytes;
  };
  const Row rows[] = {
      {"ClearFirst", kRegDword, std::string("\x01\0\0\0", 4)},
      {"Mode", kRegDword, std::string("\x02\0\0\0", 4)},
      {"InAttr", kRegDword, std::string("\x21\0\0\0", 4)},
      {"ExAttr", kRegDword, std::string("\x12\0\0\0", 4)},
      {"Mask", kRegSz, std::string("*.txt,*.doc", 12)},  // terminator included
      {"Date", kRegSz, std::string("1.1.2020..31.12.2020", 21)},
      {"Time", kRegSz, std::string("8:00..17:30", 12)},
      {"Size", kRegSz, std::string("1K..1M", 7)},
  };
  for (const Row& row : rows) {
    const Stored stored = ReadStored(PluginKey, row.Name);
    EXPECT_EQ(stored.Result, RegistryResult::Ok) << row.Name;
    EXPECT_EQ(stored.Type, row.Type) << row.Name;
    EXPECT_EQ(stored.Bytes, row.Bytes) << row.Name;
  }
}

// A mask and its terminator must fit the 260-byte buffer to be read.
TEST_F(SettingsTest, MaskOf259CharactersLoadsAndLongerFallsBack) {
  struct Row {
    size_t Length;
    bool Loads;
  };
  const Row rows[] = {{258, true}, {259, true}, {260, false}, {261, false}, {1000, false}};
  for (const Row& row : rows) {
    const std::string mask = Repeat('m', row.Length);
    SetString(kRoot, "", "Mask", mask.c_str());
    SettingsValues values;
    LoadSettings(values);
    EXPECT_STREQ(values.Mask, row.Loads ? mask.c_str() : "*.*") << row.Length;
  }
}

// SaveSettings never reads past a buffer: an unterminated text is saved as
// its buffer's capacity - 1 characters, which load back whole.
TEST_F(SettingsTest, TextsFillingTheirBuffersAreSavedCutToLoadBack) {
  SettingsValues saved = Unusual();
  std::memset(saved.Mask, 'm', sizeof saved.Mask);
  std::memset(saved.Date, 'd', sizeof saved.Date);
  std::memset(saved.Time, 't', sizeof saved.Time);
  std::memset(saved.Size, 's', sizeof saved.Size);
  SaveSettings(saved);
  SettingsValues loaded;
  LoadSettings(loaded);
  EXPECT_EQ(std::string(loaded.Mask), Repeat('m', kMaskValueSize - 1));
  EXPECT_EQ(std::string(loaded.Date), Repeat('d', kDateValueSize - 1));
  EXPECT_EQ(std::string(loaded.Time), Repeat('t', kTimeValueSize - 1));
  EXPECT_EQ(std::string(loaded.Size), Repeat('s', kSizeValueSize - 1));
}

TEST_F(SettingsTest, IncludeAttributes0x21AreArchiveAndCompressed) {
  SetNumber(kRoot, "", "InAttr", 0x21);
  SettingsValues values;
  LoadSettings(values);
  EXPECT_EQ(values.InAttr, 0x21u);
  bool set[kAttributeCount];
  SplitAttributeBits(values.InAttr, set);
  const bool want[kAttributeCount] = {true, false, false, false, false, true};
  for (int bit = 0; bit < kAttributeCount; ++bit) EXPECT_EQ(set[bit], want[bit]) << bit;
}

// Bits 6..31 are ignored on reading and written as 0.
TEST_F(SettingsTest, AttributeBitsAboveTheSixAreDropped) {
  SetNumber(kRoot, "", "InAttr", 0xffffffe1);
  SetNumber(kRoot, "", "ExAttr", 0x80000012);
  SettingsValues values;
  LoadSettings(values);
  EXPECT_EQ(values.InAttr, 0x21u);
  EXPECT_EQ(values.ExAttr, 0x12u);

  values.InAttr = 0xffffffff;
  values.ExAttr = 0xffffffc0;
  SaveSettings(values);
  EXPECT_EQ(GetNumber(kRoot, "", "InAttr", 7), 0x3fu);
  EXPECT_EQ(GetNumber(kRoot, "", "ExAttr", 7), 0u);
}

// One value that cannot be read yields its default; the others still load.
TEST_F(SettingsTest, EachValueFailsOnItsOwn) {
  SetNumber(kRoot, "", "ClearFirst", 1);
  SetBinary(kRoot, "", "Mode", "\x02\0\0\0\0", 5);  // wrong size
  SetNumber(kRoot, "", "InAttr", 0x21);
  SetString(kRoot, "", "Mask", Repeat('m', 300).c_str());  // too long
  SetString(kRoot, "", "Date", "1.2.2003");
  SetBinary(kRoot, "", "Time", Repeat('t', kTimeValueSize).data(), kTimeValueSize);  // no end
  SetString(kRoot, "", "Size", "10K");
  SettingsValues values;
  LoadSettings(values);
  SettingsValues expected = test::DefaultSettings();
  expected.ClearFirst = 1;
  expected.InAttr = 0x21;
  std::strcpy(expected.Date, "1.2.2003");
  std::strcpy(expected.Size, "10K");
  test::ExpectSameSettings(values, expected);
}

// A root key of 73 characters does not fit the key path with "\Marlit": the
// path is refused, every read yields its default and nothing is written.
TEST_F(SettingsTest, RefusedKeyPathReadsDefaultsAndWritesNothing) {
  const std::string root = Key + "\\" + Repeat('r', 72 - Key.size());
  ASSERT_EQ(root.size(), 73u);
  EXPECT_FALSE(FormPluginKeyPath(root.c_str()));
  EXPECT_STREQ(PluginKeyPath, "");

  SaveSettings(Unusual());
  SetString(kRoot, "", "Extra", "text");
  SetNumber(kRoot, "Sub", "Extra", 5);
  SetBinary(kRoot, "", "Extra", "ab", 2);
  SettingsValues values;
  LoadSettings(values);
  ExpectDefaults(values);

  // Neither the test's key (under which any cut path would lie) nor a key of
  // the plug-in's own name at the top was created; natively no file at all.
  EXPECT_EQ(DeleteRegistryKey(kRoot, Key.c_str()), RegistryResult::Missing);
  EXPECT_EQ(DeleteRegistryKey(kRoot, "Marlit"), RegistryResult::Missing);
  EXPECT_TRUE(File.empty() || !std::filesystem::exists(File));
}

TEST_F(SettingsTest, RootKeyOf72CharactersIsTheLongestTaken) {
  const std::string root = Key + "\\" + Repeat('r', 71 - Key.size());
  ASSERT_EQ(root.size(), 72u);
  ASSERT_TRUE(FormPluginKeyPath(root.c_str()));
  EXPECT_EQ(std::string(PluginKeyPath), root + "\\Marlit");
  const SettingsValues saved = Unusual();
  SaveSettings(saved);
  SettingsValues loaded;
  LoadSettings(loaded);
  test::ExpectSameSettings(loaded, saved);
  EXPECT_EQ(ReadStored(root + "\\Marlit", "Mask").Bytes, std::string("*.txt,*.doc", 12));
}

// ---- The typed operations -------------------------------------------------------

TEST_F(SettingsTest, SubkeyIsJoinedWithASeparator) {
  SetString(kRoot, "Sub\\Deeper", "Name", "below");
  SetString(kRoot, "", "Name", "here");
  EXPECT_EQ(ReadStored(PluginKey + "\\Sub\\Deeper", "Name").Bytes, std::string("below", 6));
  EXPECT_EQ(ReadStored(PluginKey, "Name").Bytes, std::string("here", 5));
  char buffer[16];
  EXPECT_EQ(GetString(kRoot, "Sub\\Deeper", "Name", buffer, "", sizeof buffer), 1);
  EXPECT_STREQ(buffer, "below");
  EXPECT_EQ(GetString(kRoot, nullptr, "Name", buffer, "", sizeof buffer), 1);
  EXPECT_STREQ(buffer, "here");
}

// The full key must fit 512 bytes; a longer one is neither read nor written
// (not even cut). How long a key the registry itself takes is its own
// matter: Wine's stops short of 512, so the longest key that fits is tested
// on the file store.
TEST_F(SettingsTest, FullKeyTooLongIsRefused) {
  std::string tooLong;
  while (tooLong.size() < kFullKeySize - PluginKey.size() - 1) tooLong += "kkkkkkkkk\\";
  tooLong.resize(kFullKeySize - PluginKey.size() - 1);
  if (tooLong.back() == '\\') tooLong.back() = 'k';
  SetNumber(kRoot, tooLong.c_str(), "N", 6);
  SetString(kRoot, tooLong.c_str(), "T", "t");
  EXPECT_EQ(GetNumber(kRoot, tooLong.c_str(), "N", 9), 9u);
  EXPECT_EQ(DeleteRegistryKey(kRoot, Key.c_str()), RegistryResult::Missing);
  EXPECT_TRUE(File.empty() || !std::filesystem::exists(File));
}

TEST_F(SettingsTest, GetStringTakesTextsThatFitWithTheirTerminator) {
  struct Row {
    const char* Text;
    uint32_t Capacity;
    int Result;
    const char* Want;
  };
  const Row rows[] = {
      {"", 8, 1, ""},                 //
      {"1234567", 8, 1, "1234567"},   // 8 bytes with the terminator
      {"12345678", 8, 0, "default"},  // 9 bytes: too long
      {"123456789", 8, 0, "default"},
      {"x", 1, 0, ""},  // the default cut to fit
  };
  for (const Row& row : rows) {
    SetString(kRoot, "", "Text", row.Text);
    char buffer[16];
    std::memset(buffer, 0x7f, sizeof buffer);
    EXPECT_EQ(GetString(kRoot, "", "Text", buffer, "default", row.Capacity), row.Result)
        << row.Text;
    EXPECT_STREQ(buffer, row.Want) << row.Text;
    EXPECT_EQ(buffer[row.Capacity], '\x7f') << "wrote past the capacity for " << row.Text;
  }
}

// Stored without a terminator (the type is not checked): taken and
// terminated when there is room, the default when it fills the buffer.
TEST_F(SettingsTest, TextWithoutTerminatorFillingTheBufferIsTooLong) {
  struct Row {
    size_t Length;
    int Result;
  };
  const Row rows[] = {{0, 1}, {1, 1}, {63, 1}, {64, 0}, {65, 0}};
  for (const Row& row : rows) {
    const std::string text = Repeat('x', row.Length);
    SetBinary(kRoot, "", "Raw", text.data(), static_cast<uint32_t>(text.size()));
    char buffer[kSizeValueSize + 1];
    std::memset(buffer, 0x7f, sizeof buffer);
    EXPECT_EQ(GetString(kRoot, "", "Raw", buffer, "dflt", kSizeValueSize), row.Result)
        << row.Length;
    EXPECT_STREQ(buffer, row.Result == 1 ? text.c_str() : "dflt") << row.Length;
    EXPECT_EQ(buffer[kSizeValueSize], '\x7f') << row.Length;
  }
}

TEST_F(SettingsTest, GetNumberTakesExactlyFourBytes) {
  struct Row {
    const char* Bytes;
    uint32_t Length;
    uint32_t Want;
  };
  const Row rows[] = {
      {"", 0, 77},                          //
      {"\x01\x02\x03", 3, 77},              // part of the number undefined
      {"\x2a\0\0\0", 4, 42},                // the type is not checked
      {"\x78\x56\x34\x12", 4, 0x12345678},  // little-endian
      {"\x01\x02\x03\x04\x05", 5, 77},      // does not fit
  };
  for (const Row& row : rows) {
    SetBinary(kRoot, "", "Number", row.Bytes, row.Length);
    EXPECT_EQ(GetNumber(kRoot, "", "Number", 77), row.Want) << row.Length << " bytes";
  }
  SetNumber(kRoot, "", "Number", 0xfffffffe);
  EXPECT_EQ(GetNumber(kRoot, "", "Number", 77), 0xfffffffeu);
  EXPECT_EQ(GetNumber(kRoot, "", "Absent", 77), 77u);
}

TEST_F(SettingsTest, GetBinaryFillsTheWholeBuffer) {
  const unsigned char fallback[6] = {9, 9, 9, 9, 9, 9};
  struct Row {
    const char* Stored;  // nullptr: not stored
    uint32_t Length;
    const void* Default;
    int Result;
    const char* Want;  // six bytes
  };
  const Row rows[] = {
      {"abcdef", 6, fallback, 1, "abcdef"},
      {"abc", 3, fallback, 1, "abc\0\0\0"},         // the rest zero-filled
      {"abcdefg", 7, fallback, 0, "\t\t\t\t\t\t"},  // too long: the default
      {"abcdefg", 7, nullptr, 0, "\0\0\0\0\0\0"},   // no default: zeros
      {nullptr, 0, fallback, 0, "\t\t\t\t\t\t"},
  };
  for (const Row& row : rows) {
    DeleteRegistryKey(kRoot, PluginKey.c_str());
    if (row.Stored != nullptr) SetBinary(kRoot, "", "Bytes", row.Stored, row.Length);
    unsigned char buffer[8];
    std::memset(buffer, 0x7f, sizeof buffer);
    EXPECT_EQ(GetBinary(kRoot, "", "Bytes", buffer, row.Default, 6), row.Result) << row.Length;
    EXPECT_EQ(std::memcmp(buffer, row.Want, 6), 0) << row.Length;
    EXPECT_EQ(buffer[6], 0x7f) << row.Length;
  }
}

TEST_F(SettingsTest, NoKeyPathReadsDefaultsAndWritesNothing) {
  PluginKeyPath[0] = '\0';
  SetString(kRoot, "", "Text", "t");
  SetNumber(kRoot, "", "Number", 1);
  SetBinary(kRoot, "", "Bytes", "b", 1);
  char text[8];
  EXPECT_EQ(GetString(kRoot, "", "Text", text, "d", sizeof text), 0);
  EXPECT_STREQ(text, "d");
  EXPECT_EQ(GetNumber(kRoot, "", "Number", 3), 3u);
  char bytes[1];
  EXPECT_EQ(GetBinary(kRoot, "", "Bytes", bytes, "z", 1), 0);
  EXPECT_EQ(bytes[0], 'z');
  EXPECT_EQ(DeleteRegistryKey(kRoot, Key.c_str()), RegistryResult::Missing);
  EXPECT_TRUE(File.empty() || !std::filesystem::exists(File));
}

// ---- Attribute sets -------------------------------------------------------------

TEST(AttributeBits, SplitBitZeroFirst) {
  struct Row {
    uint32_t Bits;
    bool Set[kAttributeCount];  // archive, read-only, hidden, system, directory, compressed
  };
  const Row rows[] = {
      {0x00, {false, false, false, false, false, false}},
      {0x01, {true, false, false, false, false, false}},
      {0x21, {true, false, false, false, false, true}},
      {0x12, {false, true, false, false, true, false}},
      {0x3f, {true, true, true, true, true, true}},
      {0xffffffc0, {false, false, false, false, false, false}},  // bits 6..31 ignored
      {0x8000000c, {false, false, true, true, false, false}},
  };
  for (const Row& row : rows) {
    bool set[kAttributeCount];
    std::memset(set, 1, sizeof set);
    SplitAttributeBits(row.Bits, set);
    for (int bit = 0; bit < kAttributeCount; ++bit) {
      EXPECT_EQ(set[bit], row.Set[bit]) << std::hex << row.Bits << " bit " << bit;
    }
  }
}

TEST(AttributeBits, EverySetThereAndBack) {
  for (uint32_t bits = 0; bits < 64; ++bits) {
    bool set[kAttributeCount];
    SplitAttributeBits(bits | 0xabcdef00, set);
    EXPECT_EQ(JoinAttributeBits(set), bits);
  }
}

}  // namespace
}  // namespace marlit
