// The mask's list syntax: which patterns a mask holds, and which names pass.
#include "engine/mask_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/wildcard.h"

namespace marlit {
namespace {

std::string Patterns(const MaskList& list, int from, int to) {
  std::string out;
  for (int i = from; i < to; ++i) out.append("<").append(MaskPattern(list, i)).append(">");
  return out;
}

TEST(MaskList, ReadsPatterns) {
  const struct {
    std::string Mask;
    bool Whole;
    std::string Include;
    std::string Exclude;
  } rows[] = {
      {"*.*", true, "<*.*>", ""},
      {" a b ", true, "< a b >", ""},  // no list syntax: as it stands
      {"", true, "<>", ""},
      {"*.txt,*.md", false, "<*.txt><*.md>", ""},
      {"*.log;*.bin", false, "<*.log><*.bin>", ""},
      {"*.*|*.txt", false, "<*.*>", "<*.txt>"},
      {" a , b ;; ,c", false, "<a><b><c>", ""},
      {"|*.bak", false, "", "<*.bak>"},
      {"a|b|c,d", false, "<a>", "<b><c><d>"},  // later bars separate
      {"\"a,b\";\"c|d\"", false, "<a,b><c|d>", ""},
      {"\" a \" ,x", false, "< a ><x>", ""},  // quoted spaces stay
      {"a\"b;c\"d", false, "<ab;cd>", ""},
      {"\"x|", false, "<x|>", ""},  // an open quote runs to the end
      {"\"\",", false, "", ""},
      {",", false, "", ""},
      {std::string(600, ','), false, "", ""},
      {std::string(255, 'a').append(",").append(300, 'b'), false,
       std::string("<").append(255, 'a').append("><").append(255, 'b').append(">"), ""},
  };
  for (const auto& row : rows) {
    MaskList list;
    ReadMaskList(row.Mask, list);
    EXPECT_EQ(list.Whole, row.Whole) << row.Mask;
    EXPECT_EQ(Patterns(list, 0, list.IncludeCount), row.Include) << row.Mask;
    EXPECT_EQ(Patterns(list, list.IncludeCount, list.PatternCount), row.Exclude) << row.Mask;
  }
}

TEST(MaskList, MostPatterns) {
  std::string mask;
  for (int i = 0; i < 300; ++i) mask += "a,";
  MaskList list;
  ReadMaskList(mask, list);
  EXPECT_EQ(list.PatternCount, 256);  // the 511 characters a field holds
  EXPECT_EQ(MaskPattern(list, 255), "a");
  EXPECT_EQ(MaskPattern(list, 256), "");
}

TEST(MaskList, Matches) {
  const struct {
    const char* Mask;
    const char* Name;
    bool Passes;
  } rows[] = {
      {"*.txt,*.md", "a.md", true}, {"*.txt,*.md", "a.log", false}, {"*.*|*.txt", "a.txt", false},
      {"*.*|*.txt", "a.log", true}, {"|*.bak", "a.txt", true},      {"|*.bak", "a.bak", false},
      {"a*,b*|b2", "b1", true},     {"a*,b*|b2", "b2", false},      {"\"a,b\"", "a,b", true},
      {"\"a,b\"", "a", false},      {",", "anything", true},        {"a,b", "a,b", false},
  };
  for (const auto& row : rows) {
    MaskList list;
    ReadMaskList(row.Mask, list);
    EXPECT_EQ(MaskMatches(list, test::TestCmpName, row.Name), row.Passes)
        << row.Mask << " " << row.Name;
  }
}

}  // namespace
}  // namespace marlit
