// The console host's wildcard rules, as the plug-in meets them through
// CmpName.
#include "console/session/wildcard.h"

#include <gtest/gtest.h>

#include <string>

#include "support/labels.h"

namespace marlit::console {
namespace {

using marlit::test::Label;
using marlit::test::RowName;

struct CmpNameCase {
  const char* Mask;
  const char* Name;
  int SkipPath;
  int Expected;
};

std::string RowLabel(const CmpNameCase& c) {
  return Label(c.Mask) + "_" + Label(c.Name) + (c.SkipPath != 0 ? "" : "_whole");
}

class CmpNameTable : public ::testing::TestWithParam<CmpNameCase> {};

TEST_P(CmpNameTable, Matches) {
  const CmpNameCase& c = GetParam();
  EXPECT_EQ(ConsoleCmpName(c.Mask, c.Name, c.SkipPath), c.Expected)
      << "mask '" << c.Mask << "' name '" << c.Name << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CmpNameTable,
    ::testing::Values(
        // Literal text, without case for ASCII letters.
        CmpNameCase{"readme", "readme", 1, 1}, CmpNameCase{"README", "readme", 1, 1},
        CmpNameCase{"readme", "readme2", 1, 0}, CmpNameCase{"readme2", "readme", 1, 0},
        CmpNameCase{"", "", 1, 1},
        // '*' any run, '?' exactly one byte.
        CmpNameCase{"*.txt", "a.txt", 1, 1}, CmpNameCase{"*.txt", "a.TXT", 1, 1},
        CmpNameCase{"*.txt", ".txt", 1, 1}, CmpNameCase{"*.txt", "a.txt.gz", 1, 0},
        CmpNameCase{"a*b*c", "abc", 1, 1}, CmpNameCase{"a*b*c", "aXbYbZc", 1, 1},
        CmpNameCase{"a*b*c", "aXbYc!", 1, 0}, CmpNameCase{"*", "", 1, 1},
        CmpNameCase{"?", "", 1, 0}, CmpNameCase{"?", "x", 1, 1}, CmpNameCase{"??", "x", 1, 0},
        CmpNameCase{"a?c", "abc", 1, 1}, CmpNameCase{"a?c", "ac", 1, 0},
        CmpNameCase{"*?", "", 1, 0}, CmpNameCase{"*a*", "bbb", 1, 0}, CmpNameCase{"a**", "a", 1, 1},
        // Sets and ranges, without case for letters.
        CmpNameCase{"[abc].log", "b.log", 1, 1}, CmpNameCase{"[abc].log", "d.log", 1, 0},
        CmpNameCase{"[a-c]x", "Bx", 1, 1}, CmpNameCase{"[A-C]x", "bx", 1, 1},
        CmpNameCase{"[0-9][0-9]", "42", 1, 1}, CmpNameCase{"[0-9][0-9]", "4a", 1, 0},
        CmpNameCase{"[a-c0-2_]", "_", 1, 1}, CmpNameCase{"[a-c0-2_]", "3", 1, 0},
        CmpNameCase{"*[xyz]", "abcz", 1, 1}, CmpNameCase{"[]", "[]", 1, 1},
        CmpNameCase{"[ab", "[ab", 1, 1}, CmpNameCase{"[ab", "a", 1, 0},
        // The two whole-mask special forms.
        CmpNameCase{"*.*", "noext", 1, 1}, CmpNameCase{"*.*", ".hidden", 1, 1},
        CmpNameCase{"*.*", "a.b.c", 1, 1}, CmpNameCase{"*.", "noext", 1, 1},
        CmpNameCase{"*.", "a.txt", 1, 0}, CmpNameCase{"*.", ".profile", 1, 0},
        // One pattern: list marks are characters like any other.
        CmpNameCase{"*.c,*.h", "x.h", 1, 0}, CmpNameCase{"*.c,*.h", "x.c,y.h", 1, 1},
        CmpNameCase{"a;b|c", "A;B|C", 1, 1}, CmpNameCase{"*|*.bak", "x.bak", 1, 0},
        CmpNameCase{"\"a\"", "a", 1, 0}, CmpNameCase{" a", "a", 1, 0},
        // The directory part is dropped only with SkipPath.
        CmpNameCase{"*.txt", "dir/a.txt", 1, 1}, CmpNameCase{"a.txt", "dir/a.txt", 1, 1},
        CmpNameCase{"a.txt", "dir\\a.txt", 1, 0}, CmpNameCase{"dir\\a.txt", "dir\\a.txt", 1, 1},
        CmpNameCase{"a.txt", "dir/a.txt", 0, 0}, CmpNameCase{"dir/*", "dir/a.txt", 0, 1},
        // ASCII folds up to and including Z; a '-' that ends a set is itself.
        CmpNameCase{"Z", "z", 1, 1}, CmpNameCase{"z", "Z", 1, 1}, CmpNameCase{"[Z]", "z", 1, 1},
        CmpNameCase{"@", "`", 1, 0}, CmpNameCase{"[a-]", "-", 1, 1}, CmpNameCase{"[a-]", "A", 1, 1},
        CmpNameCase{"[a-]", "b", 1, 0},
        // UTF-8 names: '?' is one character, letters beyond ASCII fold.
        CmpNameCase{"\xC3\xA9*", "\xC3\xA9t\xC3\xA9", 1, 1},
        CmpNameCase{"\xC3\xA9*", "\xC3\x89T\xC3\x89", 1, 1}, CmpNameCase{"?", "\xC3\xA9", 1, 1},
        CmpNameCase{"??", "\xC3\xA9", 1, 0},
        CmpNameCase{"a?z", "a\xF0\x9F\x98\x80z", 1, 1},  // an emoji, four bytes
        CmpNameCase{"a??z", "a\xF0\x9F\x98\x80z", 1, 0},
        CmpNameCase{"a?c",
                    "a\xE2\x82\xAC"
                    "c",
                    1, 1},
        CmpNameCase{"\xD0\xAF*", "\xD1\x8F\xD1\x89\xD0\xB8\xD0\xBA", 1, 1},  // Я, ящик
        CmpNameCase{"*\xCE\xA3", "\xCE\xBB\xCF\x82", 1, 1},      // Σ, λς (final sigma)
        CmpNameCase{"k", "\xE2\x84\xAA", 1, 1},                  // the Kelvin sign
        CmpNameCase{"i", "\xC4\xB0", 1, 0},                      // İ has no one-letter fold
        CmpNameCase{"\xC4\x80", "\xC4\x81", 1, 1},               // Ā, ā: a fold of stride 2
        CmpNameCase{"[\xC3\xA0-\xC3\xBF]x", "\xC3\x89x", 1, 1},  // [à-ÿ], Éx
        CmpNameCase{"[\xC3\x80-\xC3\x9E]", "\xC3\xA9", 1, 1},    // [À-Þ], é
        CmpNameCase{"[\xC3\x80-\xC3\x9E]", "\xC3\xBF", 1, 0},    // ÿ folds to itself
        CmpNameCase{"[a\xC3\xA9]", "\xC3\x89", 1, 1},
        // Other names, and masks that are not UTF-8, are matched byte by byte.
        CmpNameCase{"*\xFF", "a\xFF", 1, 1}, CmpNameCase{"?", "\xFF", 1, 1},
        CmpNameCase{"??", "\xC3\xA9\xFF", 1, 0}, CmpNameCase{"???", "\xC3\xA9\xFF", 1, 1},
        CmpNameCase{"\xC3\xA9*", "\xC3\x89\xFF", 1, 0}, CmpNameCase{"\xE9", "\xC3\xA9", 1, 0},
        CmpNameCase{"?", "\xC0\xAF", 1, 0}),  // an overlong '/' is two bytes
    RowName());

TEST(CmpName, RefusesMissingTexts) {
  EXPECT_EQ(ConsoleCmpName(nullptr, "a", 1), 0);
  EXPECT_EQ(ConsoleCmpName("*", nullptr, 1), 0);
}

// Many stars against a long name that almost matches: greedy matching with
// one backtrack point finishes, where trying every split would not.
TEST(CmpName, ManyStarsAgainstALongNameFinish) {
  const std::string pattern = std::string(60, '*') + "b";
  const std::string almost(10'000, 'a');
  EXPECT_EQ(ConsoleCmpName(pattern.c_str(), almost.c_str(), 1), 0);
  EXPECT_EQ(ConsoleCmpName(pattern.c_str(), (almost + "b").c_str(), 1), 1);
  std::string alternating;
  for (int i = 0; i < 30; ++i) alternating += "*a";
  EXPECT_EQ(ConsoleCmpName((alternating + "*c").c_str(), almost.c_str(), 1), 0);
  EXPECT_EQ(ConsoleCmpName(alternating.c_str(), almost.c_str(), 1), 1);
  std::string accents;
  for (int i = 0; i < 5'000; ++i) accents += "\xC3\xA9";
  EXPECT_EQ(ConsoleCmpName((std::string(60, '*') + "\xC3\x89x").c_str(), accents.c_str(), 1), 0);
}

TEST(Utf8, IsToldFromOtherBytes) {
  const std::pair<std::string_view, bool> rows[] = {{"", true},
                                                    {"plain", true},
                                                    {"\xC3\xA9", true},
                                                    {"\xF0\x9F\x98\x80", true},
                                                    {"\xC3", false},
                                                    {"\xA9", false},
                                                    {"\xC0\x80", false},
                                                    {"\xE0\x80\xAF", false},
                                                    {"\xED\xA0\x80", false},
                                                    {"\xF4\x90\x80\x80", false},
                                                    {"\xF5\x80\x80\x80", false},
                                                    {"\xE2\x82", false}};
  for (const auto& [text, valid] : rows) EXPECT_EQ(IsUtf8(text), valid) << Label(text);
}

}  // namespace
}  // namespace marlit::console
