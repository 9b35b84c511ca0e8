// The registry services in both builds: natively the file store, under Wine
// advapi32 over Wine's registry. Both must answer alike.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "support/sandbox.h"

namespace marlit {
namespace {

using RegistryTest = Sandbox;

constexpr RegistryRoot kRoot = kHkeyCurrentUser;

RegistryResult Write(const std::string& key, const char* name, uint32_t type,
                     const std::string& bytes) {
  return WriteRegistryValue(kRoot, key.c_str(), name, type, bytes.data(),
                            static_cast<uint32_t>(bytes.size()));
}

struct Read {
  RegistryResult Result;
  uint32_t Size;
  uint32_t Type;
  std::string Bytes;
};

Read ReadBack(const std::string& key, const char* name, uint32_t capacity = 256) {
  std::string buffer(capacity, '\x7f');
  Read read{RegistryResult::Failed, capacity, 0xdead, ""};
  read.Result = ReadRegistryValue(kRoot, key.c_str(), name, buffer.data(), &read.Size, &read.Type);
  if (read.Result == RegistryResult::Ok) read.Bytes = buffer.substr(0, read.Size);
  return read;
}

TEST_F(RegistryTest, EveryTypeRoundTrips) {
  struct Row {
    const char* Name;
    uint32_t Type;
    std::string Bytes;
  };
  const Row rows[] = {
      {"Text", kRegSz, std::string("some text\0", 10)},
      {"Empty text", kRegSz, std::string("\0", 1)},
      {"Quotes \"and\" \\", kRegSz, std::string("say \"hi\" to C:\\dir\\\0", 21)},
      {"Number", kRegDword, std::string("\x2a\0\0\0", 4)},
      {"Top number", kRegDword, std::string("\xff\xff\xff\xff", 4)},
      {"Bytes", kRegBinary, std::string("\x00\x01\x7f\x80\xff", 5)},
      {"No bytes", kRegBinary, ""},
      {"Expandable", 2, std::string("%PATH%\0", 7)},
      {"Several", 7, std::string("a\0bc\0\0", 6)},
      {"Big number", 11, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
      {"", kRegSz, std::string("the default value\0", 18)},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(Write(PluginKey, row.Name, row.Type, row.Bytes), RegistryResult::Ok) << row.Name;
  }
  for (const Row& row : rows) {
    const Read read = ReadBack(PluginKey, row.Name);
    EXPECT_EQ(read.Result, RegistryResult::Ok) << row.Name;
    EXPECT_EQ(read.Type, row.Type) << row.Name;
    EXPECT_EQ(read.Bytes, row.Bytes) << row.Name;
  }
}

TEST_F(RegistryTest, MissingKeyAndMissingValue) {
  EXPECT_EQ(ReadBack(PluginKey, "Name").Result, RegistryResult::Missing);
  ASSERT_EQ(Write(PluginKey, "Other", kRegSz, std::string("x\0", 2)), RegistryResult::Ok);
  EXPECT_EQ(ReadBack(PluginKey, "Name").Result, RegistryResult::Missing);
  EXPECT_EQ(ReadBack(PluginKey + "\\Below", "Other").Result, RegistryResult::Missing);
}

TEST_F(RegistryTest, TooLongReportsTheSizeNeeded) {
  ASSERT_EQ(Write(PluginKey, "Text", kRegSz, std::string("12345678\0", 9)), RegistryResult::Ok);
  struct Row {
    uint32_t Capacity;
    RegistryResult Result;
    uint32_t Size;
  };
  const Row rows[] = {
      {8, RegistryResult::TooLong, 9},
      {9, RegistryResult::Ok, 9},
      {100, RegistryResult::Ok, 9},
  };
  for (const Row& row : rows) {
    const Read read = ReadBack(PluginKey, "Text", row.Capacity);
    EXPECT_EQ(read.Result, row.Result) << row.Capacity;
    EXPECT_EQ(read.Size, row.Size) << row.Capacity;
  }
  uint32_t size = 0;
  EXPECT_EQ(ReadRegistryValue(kRoot, PluginKey.c_str(), "Text", nullptr, &size, nullptr),
            RegistryResult::Ok);
  EXPECT_EQ(size, 9u);
}

TEST_F(RegistryTest, NamesCompareWithoutRegardToCase) {
  ASSERT_EQ(Write(PluginKey, "MixedCase", kRegDword, std::string("\x01\0\0\0", 4)),
            RegistryResult::Ok);
  std::string upper = PluginKey;
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  EXPECT_EQ(ReadBack(upper, "mixedcase").Bytes, std::string("\x01\0\0\0", 4));
  // A write under another spelling changes the same value.
  ASSERT_EQ(Write(upper, "MIXEDCASE", kRegDword, std::string("\x02\0\0\0", 4)), RegistryResult::Ok);
  EXPECT_EQ(ReadBack(PluginKey, "MixedCase").Bytes, std::string("\x02\0\0\0", 4));
  // The first and last letters fold; the characters beside them do not.
  struct Row {
    const char* Written;
    const char* Read;
    bool Same;
  };
  const Row rows[] = {
      {"Az", "aZ", true},  {"Zed", "zED", true}, {"a@", "a`", false},
      {"b[", "b{", false}, {"c^", "c~", false},
  };
  for (const Row& row : rows) {
    const std::string key = PluginKey + "\\" + row.Written;
    ASSERT_EQ(Write(key, row.Written, kRegSz, std::string("v\0", 2)), RegistryResult::Ok);
    EXPECT_EQ(ReadBack(key, row.Read).Result == RegistryResult::Ok, row.Same) << row.Read;
    EXPECT_EQ(ReadBack(PluginKey + "\\" + row.Read, row.Written).Result == RegistryResult::Ok,
              row.Same)
        << row.Read;
  }
}

TEST_F(RegistryTest, WriteReplacesValueAndType) {
  ASSERT_EQ(Write(PluginKey, "Value", kRegSz, std::string("text\0", 5)), RegistryResult::Ok);
  ASSERT_EQ(Write(PluginKey, "Value", kRegDword, std::string("\x07\0\0\0", 4)), RegistryResult::Ok);
  const Read read = ReadBack(PluginKey, "Value");
  EXPECT_EQ(read.Type, kRegDword);
  EXPECT_EQ(read.Bytes, std::string("\x07\0\0\0", 4));
}

TEST_F(RegistryTest, DeleteRemovesTheKeyAndEverythingBelow) {
  ASSERT_EQ(Write(PluginKey, "A", kRegSz, std::string("a\0", 2)), RegistryResult::Ok);
  ASSERT_EQ(Write(PluginKey + "\\Sub", "B", kRegSz, std::string("b\0", 2)), RegistryResult::Ok);
  ASSERT_EQ(Write(Key + "\\Beside", "C", kRegSz, std::string("c\0", 2)), RegistryResult::Ok);
  ASSERT_EQ(Write(PluginKey + "X", "D", kRegSz, std::string("d\0", 2)), RegistryResult::Ok);
  EXPECT_EQ(DeleteRegistryKey(kRoot, PluginKey.c_str()), RegistryResult::Ok);
  EXPECT_EQ(ReadBack(PluginKey, "A").Result, RegistryResult::Missing);
  EXPECT_EQ(ReadBack(PluginKey + "\\Sub", "B").Result, RegistryResult::Missing);
  EXPECT_EQ(ReadBack(Key + "\\Beside", "C").Bytes, std::string("c\0", 2));
  EXPECT_EQ(ReadBack(PluginKey + "X", "D").Bytes, std::string("d\0", 2));
  EXPECT_EQ(DeleteRegistryKey(kRoot, PluginKey.c_str()), RegistryResult::Missing);
}

}  // namespace
}  // namespace marlit
