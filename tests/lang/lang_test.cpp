// The language and help files as the host reads them, checked through the
// hosts' reader; and the reader itself on good and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/lang_file.h"

namespace marlit {
namespace {

constexpr size_t kMessageCount = 26;
constexpr size_t kHelpColumns = 79;

// What each message labels in the dialog: whether the label carries a hotkey
// and how many columns its text may take before it runs into the next item
// on its row (or the frame). The title, the three buttons (Enter and Esc do
// for OK and Cancel) and the two group headings carry none.
struct MessageUse {
  size_t Id;
  bool Hotkey;
  size_t MaxWidth;
};

constexpr MessageUse kMessageUses[kMessageCount] = {
    {0, false, 12},   // confirm button, centred with the other two on row 17
    {1, false, 12},   // cancel button
    {2, false, 12},   // reset button
    {3, false, 56},   // dialog title in the frame, also the menu entry
    {4, true, 60},    // mask label, row 2 from column 5
    {5, true, 10},    // radio at column 5; the next one starts at 20
    {6, true, 10},    // radio at column 20; the next one starts at 35
    {7, true, 26},    // radio at column 35, last on its row
    {8, true, 56},    // clear-first check box, alone on row 6
    {9, false, 31},   // include heading at column 35
    {10, true, 10},   // include boxes at column 35; the right column at 50
    {11, true, 10},   //
    {12, true, 10},   //
    {13, true, 12},   // include boxes at column 50, up to the frame
    {14, true, 12},   //
    {15, true, 12},   //
    {16, true, 29},   // size label at column 5; the include group at 35
    {17, true, 29},   // date label
    {18, true, 29},   // time label
    {19, false, 31},  // exclude heading at column 35
    {20, true, 10},   // exclude boxes, as the include boxes
    {21, true, 10},   //
    {22, true, 10},   //
    {23, true, 12},   //
    {24, true, 12},   //
    {25, true, 12},   //
};

struct Language {
  const char* Name;
  const char* Lng;
  const char* Hlp;
  const char* Header;  // UTF-8
  bool Cyrillic;       // texts and hotkeys in code page 866
};

const Language kLanguages[] = {
    {"English", "marlit_eng.lng", "marlit_eng.hlf", ".Language=English,English", false},
    {"Russian", "marlit_rus.lng", "marlit_rus.hlf", ".Language=Russian,Russian (Русский)", true},
};

std::string LangPath(const std::string& name) { return std::string(MARLIT_LANG_DIR) + "/" + name; }

std::string ReadBytes(const std::string& path) {
  std::string bytes;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    std::fclose(file);
  }
  return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  std::fclose(file);
}

// Splits a file whose every line ends in CRLF; false when a line ends
// otherwise (a bare LF, or no line end at all at the end of the file).
bool SplitCrlf(const std::string& bytes, std::vector<std::string>& lines) {
  lines.clear();
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t lf = bytes.find('\n', start);
    if (lf == std::string::npos || lf == start || bytes[lf - 1] != '\r') return false;
    lines.push_back(bytes.substr(start, lf - 1 - start));
    start = lf + 1;
  }
  return true;
}

// A hotkey letter folded to one case: ASCII letters for English; for Russian
// the Cyrillic of code page 866 (capitals 0x80..0x9F, small letters
// 0xA0..0xAF and 0xE0..0xEF, Yo 0xF0 and 0xF1), which a user types in the
// Russian layout. Zero for anything else.
unsigned FoldLetter(unsigned char c, bool cyrillic) {
  if (!cyrillic) return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ? (c | 0x20u) : 0;
  if (c >= 0x80 && c <= 0x8F) return c + 0x20u;
  if (c >= 0x90 && c <= 0x9F) return c + 0x50u;
  if (c == 0xF0) return 0xF1;
  if ((c >= 0xA0 && c <= 0xAF) || (c >= 0xE0 && c <= 0xEF) || c == 0xF1) return c;
  return 0;
}

// A label as the user reads it: without its hotkey mark and closing colon.
std::string Shown(std::string text) {
  std::erase(text, '&');
  if (!text.empty() && text.back() == ':') text.pop_back();
  return text;
}

// Names the language in test output instead of dumping the record's bytes.
void PrintTo(const Language& language, std::ostream* os) { *os << language.Name; }

class LanguageFiles : public testing::TestWithParam<Language> {};

INSTANTIATE_TEST_SUITE_P(Both, LanguageFiles, testing::ValuesIn(kLanguages),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_P(LanguageFiles, ReaderLoadsTheTwentySixMessages) {
  const LangFile lang = LoadLangFile(LangPath(GetParam().Lng));
  ASSERT_EQ(lang.Error, "");
  EXPECT_EQ(".Language=" + Cp866ToUtf8(lang.Language), GetParam().Header);
  EXPECT_EQ(lang.Messages.size(), kMessageCount);
}

TEST_P(LanguageFiles, OneQuotedTextALineAndNothingElse) {
  std::vector<std::string> lines;
  ASSERT_TRUE(SplitCrlf(ReadBytes(LangPath(GetParam().Lng)), lines));
  ASSERT_EQ(lines.size(), 1 + kMessageCount);
  EXPECT_EQ(Cp866ToUtf8(lines[0]), GetParam().Header);
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    ASSERT_GE(line.size(), 2u) << "line " << i + 1;
    EXPECT_EQ(line.front(), '"') << line;
    EXPECT_EQ(line.back(), '"') << line;
    EXPECT_EQ(line.find('"', 1), line.size() - 1) << line;
    if (!GetParam().Cyrillic) {
      for (const char c : line) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << line;
    }
  }
}

TEST_P(LanguageFiles, HotkeysMarkedOnceAndUniqueInTheDialog) {
  const LangFile lang = LoadLangFile(LangPath(GetParam().Lng));
  ASSERT_EQ(lang.Messages.size(), kMessageCount) << lang.Error;
  std::set<unsigned> used;
  for (const MessageUse& use : kMessageUses) {
    const std::string& text = lang.Messages[use.Id];
    const size_t mark = text.find('&');
    if (!use.Hotkey) {
      EXPECT_EQ(mark, std::string::npos) << "message " << use.Id << ": " << text;
      continue;
    }
    ASSERT_NE(mark, std::string::npos) << "message " << use.Id << ": " << text;
    EXPECT_EQ(text.find('&', mark + 1), std::string::npos) << "message " << use.Id;
    ASSERT_LT(mark + 1, text.size()) << "message " << use.Id;
    const unsigned key =
        FoldLetter(static_cast<unsigned char>(text[mark + 1]), GetParam().Cyrillic);
    EXPECT_NE(key, 0u) << "message " << use.Id << ": no letter after &";
    EXPECT_TRUE(used.insert(key).second) << "message " << use.Id << ": hotkey used twice";
  }
}

TEST_P(LanguageFiles, TextsFitTheirPlaceInTheDialog) {
  const LangFile lang = LoadLangFile(LangPath(GetParam().Lng));
  ASSERT_EQ(lang.Messages.size(), kMessageCount) << lang.Error;
  for (const MessageUse& use : kMessageUses) {
    std::string text = lang.Messages[use.Id];
    std::erase(text, '&');
    EXPECT_FALSE(text.empty()) << "message " << use.Id;
    EXPECT_LE(text.size(), use.MaxWidth) << "message " << use.Id << ": " << text;
  }
}

TEST_P(LanguageFiles, HelpHeaderAndContentsTopic) {
  std::vector<std::string> lines;
  ASSERT_TRUE(SplitCrlf(ReadBytes(LangPath(GetParam().Hlp)), lines));
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(Cp866ToUtf8(lines[0]), GetParam().Header);
  EXPECT_EQ(lines[1], ".PluginContents=Marlit");
  EXPECT_EQ(lines[2], "@Contents");
  EXPECT_TRUE(lines[3].starts_with("$ #") && lines[3].ends_with("#")) << lines[3];
  for (size_t i = 3; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    EXPECT_LE(line.size(), kHelpColumns) << "line " << i + 1;
    // '@' opens a topic, '~' a link and '#' switches the highlight.
    EXPECT_FALSE(line.starts_with("@")) << "line " << i + 1;
    EXPECT_EQ(line.find('~'), std::string::npos) << "line " << i + 1;
    EXPECT_EQ(std::count(line.begin(), line.end(), '#') % 2, 0) << "line " << i + 1;
    for (const char c : line) {
      EXPECT_NE(c, '\t') << "line " << i + 1;
      if (!GetParam().Cyrillic) {
        EXPECT_LT(static_cast<unsigned char>(c), 0x80) << "line " << i + 1;
      }
    }
  }
}

TEST_P(LanguageFiles, HelpNamesEveryItemOfTheDialog) {
  const LangFile lang = LoadLangFile(LangPath(GetParam().Lng));
  ASSERT_EQ(lang.Messages.size(), kMessageCount) << lang.Error;
  const std::string help = ReadBytes(LangPath(GetParam().Hlp));
  ASSERT_FALSE(help.empty());
  for (size_t id = 0; id < kMessageCount; ++id) {
    const std::string label = Shown(lang.Messages[id]);
    EXPECT_NE(help.find(label), std::string::npos)
        << "message " << id << ": " << Cp866ToUtf8(label);
  }
}

// The reader on texts.

struct ParseRow {
  const char* Case;
  std::string Text;
  std::vector<std::string> Messages;
  const char* Error;  // a part of the error text; "" when none is expected
};

TEST(ParseLangText, Table) {
  const std::string header = ".Language=English,English";
  const ParseRow rows[] = {
      {"header only", header, {}, ""},
      {"LF", header + "\n\"a\"\n\"b\"\n", {"a", "b"}, ""},
      {"CRLF", header + "\r\n\"a\"\r\n\"b\"\r\n", {"a", "b"}, ""},
      {"no line end at the end", header + "\r\n\"a\"\r\n\"b\"", {"a", "b"}, ""},
      {"blank lines skipped", header + "\n\n\"a\"\n  \n\t\r\n\"b\"\n\n", {"a", "b"}, ""},
      {"blanks around the quotes", header + "\n  \"a b\"\t\n", {"a b"}, ""},
      {"empty text", header + "\n\"\"\n", {""}, ""},
      {"quotes inside kept", header + "\n\"say \"hi\"\"\n", {"say \"hi\""}, ""},
      {"hotkey mark kept", header + "\n\"&Select\"\n", {"&Select"}, ""},
      {"8-bit bytes kept", header + "\n\"\x82\xeb\xa4\"\n", {"\x82\xeb\xa4"}, ""},
      {"empty file", "", {}, "empty"},
      {"no header", "\"OK\"\n", {}, "line 1"},
      {"header without its dot", "Language=English,English\n\"OK\"\n", {}, "line 1"},
      {"header without a name", ".Language=\n\"OK\"\n", {}, "line 1"},
      {"blank first line", "\n" + header + "\n", {}, "line 1"},
      {"line without quotes", header + "\n\"a\"\nb\n", {"a"}, "line 3"},
      {"one quote only", header + "\n\"a\n", {}, "line 2"},
      {"a lone quote", header + "\n\"\n", {}, "line 2"},
      {"text behind the closing quote", header + "\n\"a\" b\n", {}, "line 2"},
      {"CRLF line numbers", header + "\r\n\r\n\"a\"\r\nzz\r\n", {"a"}, "line 4"},
      {"zero byte in a text", header + "\n\"a" + std::string(1, '\0') + "b\"\n", {}, "line 2"},
      {"a bare CR is no line end", header + "\n\"a\"\r\"b\"\n", {"a\"\r\"b"}, ""},
  };
  for (const ParseRow& row : rows) {
    const LangFile lang = ParseLangText(row.Text);
    EXPECT_EQ(lang.Messages, row.Messages) << row.Case;
    if (*row.Error == '\0') {
      EXPECT_EQ(lang.Error, "") << row.Case;
      EXPECT_EQ(lang.Language, "English,English") << row.Case;
    } else {
      EXPECT_NE(lang.Error.find(row.Error), std::string::npos) << row.Case << ": " << lang.Error;
    }
  }
}

TEST(ParseLangText, VeryLongLines) {
  const std::string longText(200000, 'x');
  const LangFile good = ParseLangText(".Language=" + longText + "\n\"" + longText + "\"");
  EXPECT_EQ(good.Error, "");
  EXPECT_EQ(good.Language, longText);
  ASSERT_EQ(good.Messages.size(), 1u);
  EXPECT_EQ(good.Messages[0], longText);

  const LangFile bad = ParseLangText(".Language=X\n\"" + longText + "\n");
  EXPECT_NE(bad.Error.find("line 2"), std::string::npos) << bad.Error;
  EXPECT_LT(bad.Error.size(), 100u);
}

// The reader on files.

std::string TempPath(const char* name) { return testing::TempDir() + "marlit_lang_test_" + name; }

TEST(LoadLangFile, MissingFileNamesThePath) {
  const std::string path = LangPath("no_such_file.lng");
  const LangFile lang = LoadLangFile(path);
  EXPECT_NE(lang.Error.find(path), std::string::npos) << lang.Error;
  EXPECT_TRUE(lang.Messages.empty());
}

TEST(LoadLangFile, ReadsBytesUnchanged) {
  const std::string path = TempPath("crlf.lng");
  WriteBytes(path, ".Language=Russian,Russian\r\n\"\x82\xeb\xa4\xa5\xab\xa8\xe2\xec\"\r\n\"\x1a\"");
  const LangFile lang = LoadLangFile(path);
  std::remove(path.c_str());
  EXPECT_EQ(lang.Error, "");
  EXPECT_EQ(lang.Messages, (std::vector<std::string>{"\x82\xeb\xa4\xa5\xab\xa8\xe2\xec", "\x1a"}));
}

TEST(LoadLangFile, BadFormatNamesPathAndLine) {
  const std::string path = TempPath("bad.lng");
  WriteBytes(path, ".Language=English,English\r\n\"OK\"\r\nCancel\r\n");
  const LangFile lang = LoadLangFile(path);
  std::remove(path.c_str());
  EXPECT_NE(lang.Error.find(path), std::string::npos) << lang.Error;
  EXPECT_NE(lang.Error.find("line 3"), std::string::npos) << lang.Error;
}

TEST(LoadLangFile, RefusesOversizedFile) {
  const std::string path = TempPath("large.lng");
  const std::string header = ".Language=English,English\n\"";
  WriteBytes(path, header + std::string(kMaxLangFileSize - header.size(), 'x') + "\"");
  const LangFile lang = LoadLangFile(path);
  std::remove(path.c_str());
  EXPECT_NE(lang.Error.find("larger"), std::string::npos) << lang.Error;
  EXPECT_TRUE(lang.Messages.empty());
}

// Code page 866 to UTF-8.

struct Cp866Row {
  const char* Case;
  std::string Oem;
  std::string Utf8;
};

TEST(Cp866ToUtf8, Table) {
  const Cp866Row rows[] = {
      {"empty", "", ""},
      {"ASCII unchanged", "File mask: *.*\r\n", "File mask: *.*\r\n"},
      {"capitals and small letters", "\x82\xeb\xa4\xa5\xab\xa8\xe2\xec", "Выделить"},
      {"both halves of the alphabet", "\x80\x8f\x90\x9f\xa0\xaf\xe0\xef", "АПРЯапря"},
      {"Yo", "\xf0\xf1", "Ёё"},
      {"box drawing", "\xc9\xcd\xbb\xb3\xc8\xbc", "╔═╗│╚╝"},
      {"signs", "\xfc\xf8\xff", "№°\u00a0"},
      {"mixed", "OK \x8e\xe2\xac\xa5\xad\xa0", "OK Отмена"},
  };
  for (const Cp866Row& row : rows) EXPECT_EQ(Cp866ToUtf8(row.Oem), row.Utf8) << row.Case;
}

// Every byte stands for a character of its own, so that text converted back
// through the same table comes out as it went in.
TEST(Cp866ToUtf8, EveryByteHasItsOwnCharacter) {
  std::map<std::string, char> back;
  for (int b = 0; b < 256; ++b) {
    const std::string one = Cp866ToUtf8(std::string(1, static_cast<char>(b)));
    ASSERT_FALSE(one.empty()) << b;
    EXPECT_TRUE(back.emplace(one, static_cast<char>(b)).second) << "byte " << b;
  }
  const std::string word = "Выделить";
  std::string oem;
  for (size_t i = 0; i < word.size(); i += 2) oem += back.at(word.substr(i, 2));
  EXPECT_EQ(oem, "\x82\xeb\xa4\xa5\xab\xa8\xe2\xec");
  EXPECT_EQ(Cp866ToUtf8(oem), word);
}

}  // namespace
}  // namespace marlit
