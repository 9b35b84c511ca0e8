// The POSIX registry file: its text, what it keeps of lines it cannot read,
// where it lives, its modes, and writers that run at once or die mid-write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "settings/settings.h"
#include "support/sandbox.h"

namespace marlit {
namespace {

using RegistryFileTest = Sandbox;

constexpr RegistryRoot kRoot = kHkeyCurrentUser;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Put(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

RegistryResult Write(const std::string& key, const std::string& name, uint32_t type,
                     const std::string& bytes) {
  return WriteRegistryValue(kRoot, key.c_str(), name.c_str(), type, bytes.data(),
                            static_cast<uint32_t>(bytes.size()));
}

struct Read {
  RegistryResult Result;
  uint32_t Type;
  std::string Bytes;
};

Read ReadBack(const std::string& key, const std::string& name) {
  std::string buffer(1 << 16, '\0');  // larger than any value written
  uint32_t size = static_cast<uint32_t>(buffer.size());
  uint32_t type = 0;
  const RegistryResult result =
      ReadRegistryValue(kRoot, key.c_str(), name.c_str(), buffer.data(), &size, &type);
  if (result != RegistryResult::Ok) return {result, 0, ""};
  return {result, type, buffer.substr(0, size)};
}

std::string Section(const std::string& key) { return "[HKEY_CURRENT_USER\\" + key + "]"; }

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

// ---- The text of the file --------------------------------------------------------

TEST_F(RegistryFileTest, NewFileHasTheExportLayout) {
  ASSERT_EQ(Write(PluginKey, "Mask", kRegSz, std::string("*.txt\0", 6)), RegistryResult::Ok);
  ASSERT_EQ(Write(PluginKey, "Mode", kRegDword, std::string("\x2a\0\0\0", 4)), RegistryResult::Ok);
  EXPECT_EQ(Slurp(File), "REGEDIT4\n\n" + Section(PluginKey) +
                             "\n\"Mask\"=\"*.txt\"\n\"Mode\"=dword:0000002a\n");
}

// How each value stands in the file, and that it reads back byte for byte.
TEST_F(RegistryFileTest, ValueLinesRoundTrip) {
  struct Row {
    std::string Name;
    uint32_t Type;
    std::string Bytes;
    std::string Line;
  };
  const Row rows[] = {
      {"Plain", kRegSz, std::string("*.*\0", 4), "\"Plain\"=\"*.*\""},
      {"Empty", kRegSz, std::string("\0", 1), "\"Empty\"=\"\""},
      {"Escapes", kRegSz, std::string("a\"b\\c\\\0", 7), "\"Escapes\"=\"a\\\"b\\\\c\\\\\""},
      {"Na\"me\\", kRegSz, std::string("x\0", 2), "\"Na\\\"me\\\\\"=\"x\""},
      {"Eight bit", kRegSz, std::string("\xe4\xf6\xfc \x80\xff\x7f\0", 8),
       "\"Eight bit\"=\"\xe4\xf6\xfc \x80\xff\x7f\""},
      {"Tab", kRegSz, std::string("a\tb\0", 4), "\"Tab\"=hex(1):61,09,62,00"},
      {"Lines", kRegSz, std::string("a\r\nb\0", 5), "\"Lines\"=hex(1):61,0d,0a,62,00"},
      {"Inner zero", kRegSz, std::string("a\0b\0", 4), "\"Inner zero\"=hex(1):61,00,62,00"},
      {"No end", kRegSz, "ab", "\"No end\"=hex(1):61,62"},
      {"No bytes", kRegSz, "", "\"No bytes\"=hex(1):"},
      {"Number", kRegDword, std::string("\x78\x56\x34\x12", 4), "\"Number\"=dword:12345678"},
      {"Short number", kRegDword, "\x01\x02", "\"Short number\"=hex(4):01,02"},
      {"Binary", kRegBinary, std::string("\x00\xab\xff", 3), "\"Binary\"=hex:00,ab,ff"},
      {"Empty binary", kRegBinary, "", "\"Empty binary\"=hex:"},
      {"Several", 7, std::string("a\0\0", 3), "\"Several\"=hex(7):61,00,00"},
      {"Odd type", 0x12345678, "z", "\"Odd type\"=hex(12345678):7a"},
      {"None", 0, "", "\"None\"=hex(0):"},
      {"", kRegSz, std::string("default\0", 8), "@=\"default\""},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(Write(PluginKey, row.Name, row.Type, row.Bytes), RegistryResult::Ok) << row.Name;
  }
  const std::string text = Slurp(File);
  for (const Row& row : rows) {
    EXPECT_NE(text.find("\n" + row.Line + "\n"), std::string::npos) << row.Line;
    const Read read = ReadBack(PluginKey, row.Name);
    EXPECT_EQ(read.Result, RegistryResult::Ok) << row.Name;
    EXPECT_EQ(read.Type, row.Type) << row.Name;
    EXPECT_EQ(read.Bytes, row.Bytes) << row.Name;
  }
}

// Every byte but the zero in a text, each one alone and all together.
TEST_F(RegistryFileTest, EveryByteOfATextRoundTrips) {
  std::string all;
  for (int c = 1; c < 256; ++c) {
    const std::string text = std::string(1, static_cast<char>(c)) + '\0';
    ASSERT_EQ(Write(PluginKey, "One", kRegSz, text), RegistryResult::Ok);
    EXPECT_EQ(ReadBack(PluginKey, "One").Bytes, text) << c;
    all += static_cast<char>(c);
  }
  all += '\0';
  ASSERT_EQ(Write(PluginKey, "All", kRegSz, all), RegistryResult::Ok);
  EXPECT_EQ(ReadBack(PluginKey, "All").Bytes, all);
}

// Files as Windows' tools write them: CRLF line ends, hex values continued
// over several lines, comments, other keys, names in another case.
TEST_F(RegistryFileTest, ReadsWhatWindowsToolsWrite) {
  Put(File,
      "REGEDIT4\r\n"
      "\r\n"
      "; exported\r\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
      "\"Mask\"=\"other\"\r\n"
      "\r\n"
      "[" +
          std::string("hkey_current_user\\") + Key +
          "\\MARLIT]\r\n"
          "\"Mask\"=\"*.c\"\r\n"
          "\"Mode\"=dword:0000ABCD\r\n"
          "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
          "  16,17,18\r\n"
          "\"Spaced\" = hex(2): 41 , 42,00\r\n"
          "@=\"default\"\r\n");
  struct Row {
    const char* Name;
    RegistryResult Result;
    uint32_t Type;
    std::string Bytes;
  };
  std::string counted;
  for (int i = 0; i <= 0x18; ++i) counted += static_cast<char>(i);
  const Row rows[] = {
      {"mask", RegistryResult::Ok, kRegSz, std::string("*.c\0", 4)},
      {"Mode", RegistryResult::Ok, kRegDword, std::string("\xcd\xab\0\0", 4)},
      {"Long", RegistryResult::Ok, kRegBinary, counted},
      {"Spaced", RegistryResult::Ok, 2, std::string("AB\0", 3)},
      {"", RegistryResult::Ok, kRegSz, std::string("default\0", 8)},
      {"Absent", RegistryResult::Missing, 0, ""},
  };
  for (const Row& row : rows) {
    const Read read = ReadBack(PluginKey, row.Name);
    EXPECT_EQ(read.Result, row.Result) << row.Name;
    EXPECT_EQ(read.Type, row.Type) << row.Name;
    EXPECT_EQ(read.Bytes, row.Bytes) << row.Name;
  }
  // A write keeps the file's line ends and goes into the existing section.
  ASSERT_EQ(Write(PluginKey, "Date", kRegSz, std::string("1.1\0", 4)), RegistryResult::Ok);
  ASSERT_EQ(Write(PluginKey, "MASK", kRegSz, std::string("*.h\0", 4)), RegistryResult::Ok);
  const std::string text = Slurp(File);
  EXPECT_NE(text.find("\"MASK\"=\"*.h\"\r\n\"Mode\""), std::string::npos) << text;
  EXPECT_NE(text.find("@=\"default\"\r\n\"Date\"=\"1.1\"\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("\n[HKEY_CURRENT_USER\\" + Key), std::string::npos) << text;
  EXPECT_EQ(ReadBack("Software\\Other", "Mask").Bytes, std::string("other\0", 6));
}

// What the store cannot read stays in the file as it was; a value it cannot
// read yields Failed, so its reader takes the default.
TEST_F(RegistryFileTest, UnreadableAndForeignLinesAreKept) {
  const std::vector<std::string> kept = {
      "REGEDIT4",
      "; a comment",
      "\"Before\"=\"any section\"",
      "garbage without a section",
      Section(PluginKey),
      "\"Mask\"=\"unterminated",
      "\"Mode\"=dword:123456789",
      "\"ClearFirst\"=dword:xyz",
      "\"InAttr\"=hex:1,zz",
      "\"ExAttr\"=hex:01,abc",
      "\"Date\"=\"bad \\escape\"",
      "\"Time\"=-",
      "\"Size\"=\"ok\"",
      "what is this",
      "[-HKEY_CURRENT_USER\\Software\\Gone]",
      "\"Gone\"=\"value\"",
      "[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]",
      "\"Mask\"=\"elsewhere\"",
  };
  std::string text;
  for (const std::string& line : kept) text += line + "\n";
  Put(File, text);

  struct Row {
    const char* Name;
    RegistryResult Result;
  };
  const Row rows[] = {
      {"Mask", RegistryResult::Failed},       {"Mode", RegistryResult::Failed},
      {"ClearFirst", RegistryResult::Failed}, {"InAttr", RegistryResult::Failed},
      {"Date", RegistryResult::Failed},       {"Time", RegistryResult::Failed},
      {"Size", RegistryResult::Ok},           {"ExAttr", RegistryResult::Failed},
      {"Absent", RegistryResult::Missing},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ReadBack(PluginKey, row.Name).Result, row.Result) << row.Name;
  SettingsValues values;
  LoadSettings(values);
  EXPECT_STREQ(values.Mask, "*.*");
  EXPECT_EQ(values.Mode, 0u);
  EXPECT_STREQ(values.Size, "ok");

  SettingsValues saved = values;
  std::strcpy(saved.Mask, "*.new");
  saved.Mode = 1;
  std::strcpy(saved.Size, "5K");
  SaveSettings(saved);
  LoadSettings(values);
  EXPECT_STREQ(values.Mask, "*.new");
  EXPECT_EQ(values.Mode, 1u);
  EXPECT_STREQ(values.Size, "5K");

  // Every line but the readable one that was changed is still there, in order.
  const std::string after = Slurp(File);
  size_t at = 0;
  for (const std::string& line : kept) {
    if (line == "\"Size\"=\"ok\"") continue;
    const size_t found = after.find(line + "\n", at);
    ASSERT_NE(found, std::string::npos) << line << "\n" << after;
    at = found + line.size() + 1;
  }
  EXPECT_EQ(ReadBack("Software\\Gone", "Gone").Result, RegistryResult::Missing);
}

TEST_F(RegistryFileTest, FileNotInTheFormatYieldsDefaultsAndIsNotRewritten) {
  const std::string rows[] = {
      "Windows Registry Editor Version 5.00\n\n" + Section(PluginKey) + "\n\"Mask\"=\"*.c\"\n",
      "\xef\xbb\xbfREGEDIT4\n" + Section(PluginKey) + "\n\"Mask\"=\"*.c\"\n",
      "random text\n",
      std::string("\0\0\0", 3),
  };
  for (const std::string& text : rows) {
    Put(File, text);
    SettingsValues values;
    LoadSettings(values);
    EXPECT_STREQ(values.Mask, "*.*") << text;
    EXPECT_EQ(Write(PluginKey, "Mask", kRegSz, std::string("x\0", 2)), RegistryResult::Failed);
    EXPECT_EQ(Slurp(File), text);
  }
}

TEST_F(RegistryFileTest, EmptyFileIsAFreshStore) {
  Put(File, "");
  EXPECT_EQ(ReadBack(PluginKey, "Mask").Result, RegistryResult::Missing);
  ASSERT_EQ(Write(PluginKey, "Mask", kRegSz, std::string("x\0", 2)), RegistryResult::Ok);
  EXPECT_EQ(Slurp(File), "REGEDIT4\n\n" + Section(PluginKey) + "\n\"Mask\"=\"x\"\n");
}

// Deleting from an empty store finds no key and changes nothing: the file is
// neither given a header nor replaced.
TEST_F(RegistryFileTest, DeleteFromAnEmptyFileLeavesItAsItIs) {
  Put(File, "");
  struct stat before {};
  ASSERT_EQ(stat(File.c_str(), &before), 0);
  EXPECT_EQ(DeleteRegistryKey(kRoot, PluginKey.c_str()), RegistryResult::Missing);
  struct stat after {};
  ASSERT_EQ(stat(File.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_size, 0);
}

// A store that cannot be read (here a folder where the file should be).
TEST_F(RegistryFileTest, UnreadableStoreFails) {
  ASSERT_TRUE(std::filesystem::create_directory(File));
  EXPECT_EQ(ReadBack(PluginKey, "Mask").Result, RegistryResult::Failed);
  EXPECT_EQ(Write(PluginKey, "Mask", kRegSz, std::string("x\0", 2)), RegistryResult::Failed);
  SettingsValues values;
  LoadSettings(values);
  EXPECT_STREQ(values.Mask, "*.*");
  EXPECT_TRUE(std::filesystem::is_directory(File));
}

// A store named below a regular file: nothing can be there, and nothing is.
TEST_F(RegistryFileTest, StoreBelowAFileIsMissing) {
  Put(File, "not a folder");
  setenv("MARLIT_REGISTRY", (File + "/registry.reg").c_str(), 1);
  EXPECT_EQ(ReadBack(PluginKey, "Mask").Result, RegistryResult::Missing);
  EXPECT_EQ(Write(PluginKey, "Mask", kRegSz, std::string("x\0", 2)), RegistryResult::Failed);
  setenv("MARLIT_REGISTRY", File.c_str(), 1);
  EXPECT_EQ(Slurp(File), "not a folder");
}

TEST_F(RegistryFileTest, FileWithoutFinalLineEndIsExtended) {
  Put(File, "REGEDIT4\n\n" + Section(PluginKey) + "\n\"A\"=\"a\"");
  ASSERT_EQ(Write(PluginKey, "B", kRegSz, std::string("b\0", 2)), RegistryResult::Ok);
  ASSERT_EQ(Write(PluginKey, "A", kRegSz, std::string("c\0", 2)), RegistryResult::Ok);
  EXPECT_EQ(Slurp(File), "REGEDIT4\n\n" + Section(PluginKey) + "\n\"A\"=\"c\"\n\"B\"=\"b\"\n");
}

// A key or value named twice: the last line decides, as an import would.
TEST_F(RegistryFileTest, LastOfSeveralLinesDecides) {
  Put(File, "REGEDIT4\n\n" + Section(PluginKey) + "\n\"A\"=\"first\"\n\n" + Section(PluginKey) +
                "\n\"A\"=\"second\"\n\"a\"=\"third\"\n\n[HKEY_CURRENT_USER\\Other]\n");
  EXPECT_EQ(ReadBack(PluginKey, "A").Bytes, std::string("third\0", 6));
  ASSERT_EQ(Write(PluginKey, "A", kRegSz, std::string("fourth\0", 7)), RegistryResult::Ok);
  ASSERT_EQ(Write(PluginKey, "B", kRegSz, std::string("b\0", 2)), RegistryResult::Ok);
  EXPECT_EQ(ReadBack(PluginKey, "A").Bytes, std::string("fourth\0", 7));
  EXPECT_EQ(Slurp(File), "REGEDIT4\n\n" + Section(PluginKey) + "\n\"A\"=\"first\"\n\n" +
                             Section(PluginKey) +
                             "\n\"A\"=\"second\"\n\"A\"=\"fourth\"\n\"B\"=\"b\"\n\n"
                             "[HKEY_CURRENT_USER\\Other]\n");
}

TEST_F(RegistryFileTest, NamesThatCannotStandOnALineAreRefused) {
  EXPECT_EQ(Write(PluginKey, "two\nlines", kRegSz, std::string("x\0", 2)), RegistryResult::Failed);
  EXPECT_EQ(Write(PluginKey + "\nX", "Name", kRegSz, std::string("x\0", 2)),
            RegistryResult::Failed);
  EXPECT_FALSE(std::filesystem::exists(File));
  EXPECT_EQ(WriteRegistryValue(0x12345678, "Key", "Name", kRegSz, "x", 2), RegistryResult::Failed);
}

// The longest full key the settings store forms (511 characters) is taken
// whole; one more character and nothing is written. (Wine's registry takes
// shorter keys only, so this runs on the file store.)
TEST_F(RegistryFileTest, LongestFullKeyIsTaken) {
  std::string fits = std::string(kFullKeySize - 1 - PluginKey.size() - 1, 'k');
  SetNumber(kRoot, fits.c_str(), "N", 5);
  EXPECT_EQ(GetNumber(kRoot, fits.c_str(), "N", 9), 5u);
  EXPECT_EQ(ReadBack(PluginKey + "\\" + fits, "N").Bytes, std::string("\x05\0\0\0", 4));
  const std::string tooLong = fits + "k";
  SetNumber(kRoot, tooLong.c_str(), "N", 6);
  EXPECT_EQ(GetNumber(kRoot, tooLong.c_str(), "N", 9), 9u);
  EXPECT_EQ(ReadBack(PluginKey + "\\" + fits, "N").Bytes, std::string("\x05\0\0\0", 4));
  EXPECT_EQ(Slurp(File).find("kk]"), Slurp(File).rfind("kk]"));  // one section only
}

// ---- Where the file lives and its modes -----------------------------------------

// Runs with the store's environment replaced; restores it afterwards.
struct Environment {
  const char* Registry;
  const char* ConfigHome;
  const char* Home;
};

void SetOrUnset(const char* name, const char* value) {
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
}

TEST_F(RegistryFileTest, PathFromTheEnvironment) {
  const std::string base = std::filesystem::path(File).parent_path().string();
  const std::string config = base + "/config";
  const std::string home = base + "/home";
  const char* savedHome = std::getenv("HOME");
  const std::string homeBefore = savedHome != nullptr ? savedHome : "";
  struct Row {
    Environment Env;
    std::string Expected;  // "" when no place can be named
  };
  const Row rows[] = {
      {{File.c_str(), config.c_str(), home.c_str()}, File},
      {{"", config.c_str(), home.c_str()}, config + "/marlit/registry.reg"},
      {{nullptr, config.c_str(), home.c_str()}, config + "/marlit/registry.reg"},
      {{nullptr, "relative/config", home.c_str()}, home + "/.config/marlit/registry.reg"},
      {{nullptr, "", home.c_str()}, home + "/.config/marlit/registry.reg"},
      {{nullptr, nullptr, home.c_str()}, home + "/.config/marlit/registry.reg"},
      {{nullptr, nullptr, nullptr}, ""},
  };
  for (const Row& row : rows) {
    std::filesystem::remove_all(config);
    std::filesystem::remove_all(home);
    std::filesystem::remove(File);
    SetOrUnset("MARLIT_REGISTRY", row.Env.Registry);
    SetOrUnset("XDG_CONFIG_HOME", row.Env.ConfigHome);
    SetOrUnset("HOME", row.Env.Home);
    const RegistryResult result = Write(PluginKey, "Mask", kRegSz, std::string("x\0", 2));
    if (row.Expected.empty()) {
      EXPECT_EQ(result, RegistryResult::Failed);
      EXPECT_EQ(ReadBack(PluginKey, "Mask").Result, RegistryResult::Failed);
    } else {
      EXPECT_EQ(result, RegistryResult::Ok) << row.Expected;
      EXPECT_TRUE(std::filesystem::is_regular_file(row.Expected)) << row.Expected;
      EXPECT_EQ(ReadBack(PluginKey, "Mask").Bytes, std::string("x\0", 2)) << row.Expected;
    }
  }
  setenv("MARLIT_REGISTRY", File.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  SetOrUnset("HOME", savedHome != nullptr ? homeBefore.c_str() : nullptr);
}

// Folders the store creates are 0700 and the file 0600, whatever the umask.
TEST_F(RegistryFileTest, FolderAndFileModes) {
  const std::string folder = std::filesystem::path(File).parent_path().string() + "/a/b";
  const std::string file = folder + "/registry.reg";
  setenv("MARLIT_REGISTRY", file.c_str(), 1);
  for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
    std::filesystem::remove_all(std::filesystem::path(File).parent_path() / "a");
    const mode_t before = umask(mask);
    const RegistryResult result = Write(PluginKey, "Mask", kRegSz, std::string("x\0", 2));
    umask(before);
    ASSERT_EQ(result, RegistryResult::Ok) << mask;
    EXPECT_EQ(ModeOf(folder), 0700u) << mask;
    EXPECT_EQ(ModeOf(std::filesystem::path(folder).parent_path().string()), 0700u) << mask;
    EXPECT_EQ(ModeOf(file), 0600u) << mask;
    // A rewrite of a file whose mode was widened narrows it again.
    chmod(file.c_str(), 0644);
    ASSERT_EQ(Write(PluginKey, "Mask", kRegSz, std::string("y\0", 2)), RegistryResult::Ok);
    EXPECT_EQ(ModeOf(file), 0600u) << mask;
  }
  setenv("MARLIT_REGISTRY", File.c_str(), 1);
}

// A store that is a link to a file elsewhere stays a link.
TEST_F(RegistryFileTest, LinkedStoreStaysALink) {
  const std::string target = File + ".target";
  Put(target, "REGEDIT4\n");
  std::filesystem::create_symlink(target, File);
  ASSERT_EQ(Write(PluginKey, "Mask", kRegSz, std::string("x\0", 2)), RegistryResult::Ok);
  EXPECT_TRUE(std::filesystem::is_symlink(File));
  EXPECT_NE(Slurp(target).find("\"Mask\"=\"x\""), std::string::npos);
}

// ---- Batches ---------------------------------------------------------------------

ino_t InodeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// A batch puts its writes in place once, at its end, and not at all when
// they leave every byte as it was; writes of the values the store holds
// already do not even take its lock.
TEST_F(RegistryFileTest, BatchReplacesTheFileOnceAndOnlyWhenItChanges) {
  ASSERT_EQ(Write(PluginKey, "A", kRegSz, std::string("1\0", 2)), RegistryResult::Ok);
  ASSERT_EQ(Write(PluginKey, "B", kRegSz, std::string("2\0", 2)), RegistryResult::Ok);
  struct Row {
    std::vector<std::pair<const char*, const char*>> Writes;
    bool Replaced;
    bool Locked;
    const char* A;
  };
  const Row rows[] = {
      {{{"A", "1"}, {"B", "2"}}, false, false, "1"},
      {{{"A", "3"}, {"B", "2"}}, true, true, "3"},
      {{{"A", "3"}, {"A", "1"}, {"A", "3"}}, false, true, "3"},
      {{}, false, false, "3"},
  };
  const std::string lock = File + ".lock";
  for (const Row& row : rows) {
    unlink(lock.c_str());
    const ino_t before = InodeOf(File);
    const std::string text = Slurp(File);
    BeginRegistryBatch();
    for (const auto& [name, value] : row.Writes) {
      ASSERT_EQ(Write(PluginKey, name, kRegSz, std::string(value) + '\0'), RegistryResult::Ok);
      EXPECT_EQ(ReadBack(PluginKey, name).Bytes, std::string(value) + '\0') << "read back at once";
    }
    EXPECT_EQ(Slurp(File), text) << "nothing in place before the end";
    EXPECT_EQ(EndRegistryBatch(), RegistryResult::Ok);
    EXPECT_EQ(InodeOf(File) != before, row.Replaced) << row.A;
    EXPECT_EQ(access(lock.c_str(), F_OK) == 0, row.Locked) << row.A;
    EXPECT_EQ(ReadBack(PluginKey, "A").Bytes, std::string(row.A) + '\0');
  }
}

// A batch that read the store before it was changed by someone else writes
// its values into the file as it finds it under the lock. The store is
// settled first (its last change seconds old), and each change keeps the
// size, and the time of the last write as it was.
TEST_F(RegistryFileTest, BatchWritesIntoTheFileAsItStandsUnderTheLock) {
  const std::string old = "REGEDIT4\n\n" + Section(PluginKey) + "\n\"A\"=\"1\"\n";
  const std::string changed = "REGEDIT4\n\n" + Section(PluginKey) + "\n\"A\"=\"2\"\n";
  enum class Change { ReplacedByRename, RewrittenInPlace };
  const Change rows[] = {Change::ReplacedByRename, Change::RewrittenInPlace};
  std::vector<std::string> files;
  for (size_t i = 0; i < std::size(rows); ++i) {
    files.push_back(File + std::to_string(i));
    Put(files.back(), old);
  }
  struct stat info {};
  ASSERT_EQ(stat(files.back().c_str(), &info), 0);
  while (std::time(nullptr) < info.st_ctim.tv_sec + 3) usleep(100000);
  for (size_t i = 0; i < std::size(rows); ++i) {
    setenv("MARLIT_REGISTRY", files[i].c_str(), 1);
    struct stat before {};
    ASSERT_EQ(stat(files[i].c_str(), &before), 0);
    BeginRegistryBatch();
    ASSERT_EQ(ReadBack(PluginKey, "A").Bytes, std::string("1\0", 2));
    if (rows[i] == Change::ReplacedByRename) {
      Put(files[i] + ".new", changed);
      ASSERT_EQ(rename((files[i] + ".new").c_str(), files[i].c_str()), 0);
    } else {
      Put(files[i], changed);
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, files[i].c_str(), times, 0), 0);
    ASSERT_EQ(Write(PluginKey, "B", kRegSz, std::string("b\0", 2)), RegistryResult::Ok);
    EXPECT_EQ(EndRegistryBatch(), RegistryResult::Ok);
    EXPECT_EQ(Slurp(files[i]), changed + "\"B\"=\"b\"\n") << i;
  }
  setenv("MARLIT_REGISTRY", File.c_str(), 1);
}

// A process killed between a batch's first write and its end leaves the
// file as it was, and its lock goes with it.
TEST_F(RegistryFileTest, BatchKilledBeforeItsEndLeavesThePreviousFile) {
  ASSERT_EQ(Write(PluginKey, "A", kRegSz, std::string("old\0", 4)), RegistryResult::Ok);
  const std::string before = Slurp(File);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    BeginRegistryBatch();
    const bool ok = Write(PluginKey, "A", kRegSz, std::string("new\0", 4)) == RegistryResult::Ok &&
                    Write(PluginKey, "B", kRegSz, std::string("new\0", 4)) == RegistryResult::Ok;
    if (write(ready[1], ok ? "+" : "-", 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char mark = 0;
  ASSERT_EQ(read(ready[0], &mark, 1), 1);
  close(ready[0]);
  EXPECT_EQ(mark, '+');
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(Slurp(File), before);
  ASSERT_EQ(Write(PluginKey, "C", kRegSz, std::string("c\0", 2)), RegistryResult::Ok);
  EXPECT_EQ(ReadBack(PluginKey, "A").Bytes, std::string("old\0", 4));
  EXPECT_EQ(ReadBack(PluginKey, "B").Result, RegistryResult::Missing);
}

// ---- Writers at once, and writers killed --------------------------------------------

// These tests make a thousand writes, each flushed to disk; on a memory file
// system (when there is one) the flushes cost nothing and the tests stay
// quick, while locking and renaming work as on any other.
class MemoryStoreTest : public Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    std::string pattern = "/dev/shm/marlit-test-XXXXXX";
    if (std::filesystem::is_directory("/dev/shm") && mkdtemp(pattern.data()) != nullptr) {
      Memory = pattern;
      File = Memory + "/registry.reg";
      setenv("MARLIT_REGISTRY", File.c_str(), 1);
    }
  }
  void TearDown() override {
    Sandbox::TearDown();
    if (!Memory.empty()) std::filesystem::remove_all(Memory);
  }
  std::string Memory;
};

std::string NumberText(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", n);
  return text;
}

// Two processes each write 500 values into the same key: 250 of their own
// and 250 that both write. No write is lost and every value is one that some
// writer wrote.
TEST_F(MemoryStoreTest, TwoWritersInterleaveValueByValue) {
  constexpr int kEach = 250;
  const char writers[] = {'A', 'B'};
  std::vector<pid_t> children;
  for (const char writer : writers) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      bool ok = true;
      for (int n = 0; n < kEach; ++n) {
        const std::string own = std::string(1, writer) + ":" + std::to_string(n) + '\0';
        ok = Write(PluginKey, std::string(1, writer) + NumberText(n), kRegSz, own) ==
                 RegistryResult::Ok &&
             ok;
        ok = Write(PluginKey, "Shared" + NumberText(n), kRegSz, own) == RegistryResult::Ok && ok;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int n = 0; n < kEach; ++n) {
    for (const char writer : writers) {
      const Read read = ReadBack(PluginKey, std::string(1, writer) + NumberText(n));
      EXPECT_EQ(read.Bytes, std::string(1, writer) + ":" + std::to_string(n) + '\0');
    }
    const std::string shared = ReadBack(PluginKey, "Shared" + NumberText(n)).Bytes;
    EXPECT_TRUE(shared == "A:" + std::to_string(n) + '\0' ||
                shared == "B:" + std::to_string(n) + '\0')
        << shared;
  }
  // Every line of the file is the header, the one section or a value.
  std::istringstream lines(Slurp(File));
  std::string line;
  int values = 0;
  int others = 0;
  while (std::getline(lines, line)) {
    if (line.starts_with("\"")) {
      ++values;
    } else if (line != "REGEDIT4" && !line.empty() && line != Section(PluginKey)) {
      ++others;
    }
  }
  EXPECT_EQ(values, 3 * kEach);
  EXPECT_EQ(others, 0);
}

// Two processes save eight values at a time, each save a batch, while a
// third reads them in batches: every reading finds the eight of one save,
// and each writer's last save is there at the end.
TEST_F(MemoryStoreTest, ConcurrentBatchesEachLandWhole) {
  constexpr int kSaves = 100;
  constexpr int kValues = 8;
  std::vector<pid_t> children;
  for (const char writer : {'A', 'B'}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      bool ok = true;
      for (int n = 0; n < kSaves; ++n) {
        const std::string save = std::string(1, writer) + NumberText(n) + '\0';
        BeginRegistryBatch();
        for (int v = 0; v < kValues; ++v) {
          ok = Write(PluginKey, "V" + std::to_string(v), kRegSz, save) == RegistryResult::Ok && ok;
        }
        ok = Write(PluginKey, std::string("Last") + writer, kRegSz, save) == RegistryResult::Ok &&
             ok;
        ok = EndRegistryBatch() == RegistryResult::Ok && ok;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  std::vector<int> statuses(children.size(), -1);
  for (size_t done = 0; done < children.size();) {
    BeginRegistryBatch();
    const std::string first = ReadBack(PluginKey, "V0").Bytes;
    for (int v = 1; v < kValues; ++v) {
      EXPECT_EQ(ReadBack(PluginKey, "V" + std::to_string(v)).Bytes, first) << v;
    }
    EndRegistryBatch();
    for (size_t i = 0; i < children.size(); ++i) {
      if (statuses[i] == -1 && waitpid(children[i], &statuses[i], WNOHANG) == children[i]) ++done;
    }
  }
  for (const int status : statuses) EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (const char writer : {'A', 'B'}) {
    EXPECT_EQ(ReadBack(PluginKey, std::string("Last") + writer).Bytes,
              std::string(1, writer) + NumberText(kSaves - 1) + '\0');
  }
}

// A writer killed with SIGKILL at whatever point it has reached leaves the
// old file or the new one, and the next writer carries on.
TEST_F(MemoryStoreTest, KilledWriterNeverTearsTheFile) {
  constexpr int kKills = 40;
  constexpr size_t kBig = 20000;  // a value large enough to be caught mid-write
  for (int round = 0; round < kKills; ++round) {
    int progress[2];
    ASSERT_EQ(pipe(progress), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(progress[0]);
      for (unsigned generation = 1;; ++generation) {
        const std::string big(kBig + generation % 7, static_cast<char>(generation));
        if (Write(PluginKey, "Big", kRegBinary, big) != RegistryResult::Ok) _exit(1);
        const std::string number(reinterpret_cast<const char*>(&generation), 4);
        if (Write(PluginKey, "Generation", kRegDword, number) != RegistryResult::Ok) _exit(1);
        if (write(progress[1], "+", 1) != 1) _exit(1);
      }
    }
    close(progress[1]);
    // The kills are spread over the writer's cycle: each round waits a
    // larger part of one cycle after a mark. The clock only places the kill;
    // nothing checked depends on it.
    char mark = 0;
    ASSERT_EQ(read(progress[0], &mark, 1), 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(read(progress[0], &mark, 1), 1);
    const auto cycle = std::chrono::steady_clock::now() - start;
    const auto wake = std::chrono::steady_clock::now() + cycle * round / kKills;
    while (std::chrono::steady_clock::now() < wake) {
    }
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    close(progress[0]);

    const Read big = ReadBack(PluginKey, "Big");
    ASSERT_EQ(big.Result, RegistryResult::Ok) << "round " << round;
    ASSERT_GE(big.Bytes.size(), kBig);
    const unsigned char generation = static_cast<unsigned char>(big.Bytes[0]);
    EXPECT_EQ(big.Bytes.size(), kBig + generation % 7);
    EXPECT_EQ(big.Bytes.find_first_not_of(big.Bytes[0]), std::string::npos);
    EXPECT_EQ(ReadBack(PluginKey, "Generation").Result, RegistryResult::Ok);
    EXPECT_TRUE(Slurp(File).ends_with("\n"));
  }
  ASSERT_EQ(Write(PluginKey, "After", kRegSz, std::string("x\0", 2)), RegistryResult::Ok);
  EXPECT_EQ(ReadBack(PluginKey, "After").Bytes, std::string("x\0", 2));
}

}  // namespace
}  // namespace marlit
