// The console host's command line and the dialog answers it gives.
#include "console/cli/options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "console/dialog/answer.h"
#include "support/labels.h"

namespace marlit::console {
namespace {

using marlit::test::Label;
using marlit::test::RowName;

bool Parse(std::vector<const char*> args, ConsoleOptions& options, std::string& error) {
  args.insert(args.begin(), "marlit");
  return ParseCommandLine(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(CommandLine, DefaultsToTheCurrentDirectoryAndNoAnswers) {
  ConsoleOptions o;
  std::string error;
  ASSERT_TRUE(Parse({}, o, error));
  EXPECT_EQ(o.Directory, ".");
  EXPECT_FALSE(o.Mask || o.Size || o.Date || o.Time || o.Include || o.Exclude || o.Action ||
               o.ClearFirst || o.SelectedFile);
  EXPECT_FALSE(o.Last || o.NullSeparated || o.LongFormat || o.Help || o.Version);
}

TEST(CommandLine, TakesEveryOption) {
  ConsoleOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--mask", "*.c", "--size=1k..", "--date", "1-3-24", "--time=8:00..",
                     "--include", "a,hidden", "--exclude=d", "--deselect", "--clear-first",
                     "--last", "--selected", "-", "--plugin", "/x/marlit.so", "-0l", "dir"},
                    o, error))
      << error;
  EXPECT_EQ(o.Mask.value_or("?"), "*.c");
  EXPECT_EQ(o.Size.value_or("?"), "1k..");
  EXPECT_EQ(o.Date.value_or("?"), "1-3-24");
  EXPECT_EQ(o.Time.value_or("?"), "8:00..");
  EXPECT_EQ(o.Include.value_or(99), 0b000101u);
  EXPECT_EQ(o.Exclude.value_or(99), 0b010000u);
  EXPECT_EQ(o.Action.value_or(99), 1);
  EXPECT_EQ(o.ClearFirst.value_or(false), true);
  EXPECT_TRUE(o.Last);
  EXPECT_EQ(o.SelectedFile.value_or("?"), "-");
  EXPECT_EQ(o.PluginPath, "/x/marlit.so");
  EXPECT_TRUE(o.NullSeparated);
  EXPECT_TRUE(o.LongFormat);
  EXPECT_EQ(o.Directory, "dir");
}

TEST(CommandLine, KeepsTheLastActionAndTakesEmptyTexts) {
  ConsoleOptions o;
  std::string error;
  ASSERT_TRUE(
      Parse({"--invert", "--select", "--mask=", "--include", "", "--no-clear-first"}, o, error));
  EXPECT_EQ(o.Action.value_or(99), 0);
  EXPECT_EQ(o.Mask.value_or("?"), "");
  EXPECT_EQ(o.Include.value_or(99), 0u);
  EXPECT_EQ(o.ClearFirst.value_or(true), false);
}

TEST(CommandLine, TakesTheTreeOptions) {
  ConsoleOptions o;
  std::string error;
  ASSERT_TRUE(Parse({}, o, error));
  EXPECT_FALSE(o.DirectoryGiven || o.Recursive || o.FollowLinks || o.SameDevice);
  EXPECT_EQ(o.MaxDepth, 0u);
  ASSERT_TRUE(
      Parse({"-rL", "--max-depth", "3", "--skip", ".git", "--skip=a,b", "--xdev", "."}, o, error))
      << error;
  EXPECT_TRUE(o.DirectoryGiven && o.Recursive && o.FollowLinks && o.SameDevice);
  EXPECT_EQ(o.MaxDepth, 3u);
  EXPECT_EQ(o.Skip, (std::vector<std::string>{".git", "a,b"}));
  EXPECT_EQ(o.Directory, ".");
}

TEST(CommandLine, AddsAttributeListsUpAndKeepsTheLastStart) {
  ConsoleOptions o;
  std::string error;
  ASSERT_TRUE(Parse(
      {"--include", "a", "--include=h", "--exclude", "d", "-iq", "--explain", "--last", "--reset"},
      o, error))
      << error;
  EXPECT_EQ(o.Include.value_or(99), 0b000101u);
  EXPECT_EQ(o.Exclude.value_or(99), 0b010000u);
  EXPECT_TRUE(o.Interactive && o.Quiet && o.Explain && o.Reset);
  EXPECT_FALSE(o.Last);
}

// The dialog starts from the stored values with --last, and for -i unless
// --reset; a script starts from the defaults.
TEST(CommandLine, StartsFromTheStoredValuesWhereAsked) {
  struct Row {
    bool Last, Reset, Interactive, Stored;
  };
  for (const Row& row : {Row{false, false, false, false}, Row{true, false, false, true},
                         Row{false, true, false, false}, Row{false, false, true, true},
                         Row{false, true, true, false}, Row{true, false, true, true}}) {
    ConsoleOptions o;
    o.Last = row.Last;
    o.Reset = row.Reset;
    o.Interactive = row.Interactive;
    EXPECT_EQ(StartsFromStored(o), row.Stored) << row.Last << row.Reset << row.Interactive;
  }
}

TEST(CommandLine, TakesNamesThatLookLikeOptionsAfterTwoDashes) {
  ConsoleOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--", "--mask"}, o, error));
  EXPECT_EQ(o.Directory, "--mask");
  EXPECT_FALSE(o.Mask);
}

struct BadLine {
  std::vector<const char*> Args;
  const char* Says;  // part of the message
};

std::string RowLabel(const BadLine& c) {
  std::vector<std::string> words(c.Args.begin(), c.Args.end());
  return Label(words);
}

class BadCommandLines : public ::testing::TestWithParam<BadLine> {};

TEST_P(BadCommandLines, AreRefusedWithAReason) {
  ConsoleOptions o;
  std::string error;
  EXPECT_FALSE(Parse(GetParam().Args, o, error));
  EXPECT_NE(error.find(GetParam().Says), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadCommandLines,
    ::testing::Values(BadLine{{"--colour"}, "unknown option '--colour'"},
                      BadLine{{"-x"}, "unknown option '-x'"},
                      BadLine{{"-0z"}, "unknown option '-z'"},
                      BadLine{{"--mask"}, "'--mask' needs a value"},
                      BadLine{{"--last=1"}, "'--last' takes no value"},
                      BadLine{{"--include", "a,x"}, "unknown attribute 'x'"},
                      BadLine{{"--exclude=archive,ro"}, "unknown attribute 'ro'"},
                      BadLine{{"a", "b"}, "more than one directory"},
                      BadLine{{"--max-depth", ""}, "not a whole number"},
                      BadLine{{"--max-depth=-1"}, "not a whole number"},
                      BadLine{{"--max-depth=3-"}, "--max-depth: '3-' is not a whole number"},
                      BadLine{{"--max-depth=4294967295"}, "not a whole number"}),
    RowName());

// A criterion text is never refused: what the dialog field cannot hold is cut,
// and the person is told in one line.
struct LongTextCase {
  const char* Option;
  std::string Text;
  size_t Kept;  // bytes
};

std::string RowLabel(const LongTextCase& c) {
  return Label(c.Option) + "_" + std::to_string(c.Text.size()) + "_" + std::to_string(c.Kept);
}

class LongTexts : public ::testing::TestWithParam<LongTextCase> {};

TEST_P(LongTexts, AreCutToTheFieldWithAWarning) {
  ConsoleOptions o;
  std::string error;
  const LongTextCase& c = GetParam();
  const std::string arg = std::string("--") + c.Option + "=" + c.Text;
  ASSERT_TRUE(Parse({arg.c_str()}, o, error)) << error;
  const std::optional<std::string>& field = std::string(c.Option) == "mask"   ? o.Mask
                                            : std::string(c.Option) == "size" ? o.Size
                                            : std::string(c.Option) == "date" ? o.Date
                                                                              : o.Time;
  ASSERT_TRUE(field.has_value());
  EXPECT_EQ(*field, c.Text.substr(0, c.Kept));
  if (c.Kept == c.Text.size()) {
    EXPECT_TRUE(o.Warnings.empty());
  } else {
    ASSERT_EQ(o.Warnings.size(), 1u);
    EXPECT_NE(o.Warnings[0].find("--" + std::string(c.Option)), std::string::npos);
    EXPECT_NE(o.Warnings[0].find("cut to " + std::to_string(c.Kept)), std::string::npos)
        << o.Warnings[0];
    EXPECT_EQ(o.Warnings[0].find('\n'), std::string::npos);
  }
}

const std::string kX509(509, 'x');
const std::string kX510(510, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, LongTexts,
    ::testing::Values(LongTextCase{"date", std::string(511, 'x'), 511},
                      LongTextCase{"mask", std::string(512, '*'), 511},
                      LongTextCase{"size", std::string(4000, '1'), 511},
                      LongTextCase{"time", std::string(600, ':'), 511},
                      // A two-byte character across the cut is left out whole...
                      LongTextCase{"mask", kX510 + "\xC3\xA9", 510},
                      // ...one that ends at the cut is kept...
                      LongTextCase{"mask", kX509 + "\xC3\xA9" + "y", 511},
                      // ...and so is a stray byte, which no character continues.
                      LongTextCase{"mask", kX510 + "\xC3" + "x", 511},
                      LongTextCase{"mask", kX509 + "\xE2\x80\xA2", 509},
                      LongTextCase{"mask", kX510 + "\x80\x80", 511}),
    RowName());

struct AttributeCase {
  const char* List;
  uint32_t Bits;
};

std::string RowLabel(const AttributeCase& c) { return Label(c.List); }

class AttributeLists : public ::testing::TestWithParam<AttributeCase> {};

TEST_P(AttributeLists, GiveTheDialogsBitOrder) {
  uint32_t bits = 99;
  std::string bad;
  ASSERT_TRUE(ParseAttributeList(GetParam().List, bits, bad)) << bad;
  EXPECT_EQ(bits, GetParam().Bits);
}

INSTANTIATE_TEST_SUITE_P(
    Names, AttributeLists,
    ::testing::Values(AttributeCase{"", 0}, AttributeCase{"a", 1}, AttributeCase{"r", 2},
                      AttributeCase{"h", 4}, AttributeCase{"s", 8}, AttributeCase{"d", 16},
                      AttributeCase{"c", 32}, AttributeCase{"archive,readonly,hidden", 7},
                      AttributeCase{"system,directory,compressed", 56},
                      AttributeCase{"A,Directory", 17}, AttributeCase{"a,,a,", 1}),
    RowName());

// Dialog items as the plug-in hands them in: every text and state recognisable.
std::vector<FarDialogItem> SampleItems() {
  std::vector<FarDialogItem> items(kSelectionDialogItems);
  for (int i = 0; i < kSelectionDialogItems; ++i) {
    items[i].Selected = 7;
    std::strcpy(items[i].Data, "stored");
  }
  return items;
}

TEST(CommandLineAnswer, ResetsFirstThenConfirmsTheOptions) {
  ConsoleOptions o;
  o.Mask = "*.c";
  o.Action = 2;
  o.Include = 0b100001;
  std::vector<FarDialogItem> items = SampleItems();
  EXPECT_EQ(AnswerFromCommandLine(o, 0, items.data()), kResetButton);
  EXPECT_STREQ(items[kMaskField].Data, "stored");
  EXPECT_EQ(AnswerFromCommandLine(o, 1, items.data()), kConfirmButton);
  EXPECT_STREQ(items[kMaskField].Data, "*.c");
  EXPECT_STREQ(items[kSizeField].Data, "stored");
  EXPECT_EQ(int{items[4].Selected}, 0);
  EXPECT_EQ(int{items[5].Selected}, 0);
  EXPECT_EQ(int{items[6].Selected}, 1);
  EXPECT_EQ(int{items[kClearFirstBox].Selected}, 7);
  const int include[] = {1, 0, 0, 0, 0, 1};
  for (int k = 0; k < kAttributeBoxes; ++k) {
    EXPECT_EQ(int{items[kFirstIncludeBox + k].Selected}, include[k]) << k;
    EXPECT_EQ(int{items[kFirstExcludeBox + k].Selected}, 7) << k;
  }
  EXPECT_EQ(AnswerFromCommandLine(o, 2, items.data()), kCancelButton);
}

TEST(CommandLineAnswer, WithLastConfirmsTheStoredValuesAtOnce) {
  ConsoleOptions o;
  o.Last = true;
  o.Size = "..1k";
  o.Date = "1-1-24";
  o.Time = "8:00";
  o.ClearFirst = false;
  o.Exclude = 0b000010;
  std::vector<FarDialogItem> items = SampleItems();
  EXPECT_EQ(AnswerFromCommandLine(o, 0, items.data()), kConfirmButton);
  EXPECT_STREQ(items[kMaskField].Data, "stored");
  EXPECT_STREQ(items[kSizeField].Data, "..1k");
  EXPECT_STREQ(items[kDateField].Data, "1-1-24");
  EXPECT_STREQ(items[kTimeField].Data, "8:00");
  EXPECT_EQ(int{items[kClearFirstBox].Selected}, 0);
  EXPECT_EQ(int{items[4].Selected}, 7);
  EXPECT_EQ(int{items[kFirstExcludeBox].Selected}, 0);
  EXPECT_EQ(int{items[kFirstExcludeBox + 1].Selected}, 1);
  EXPECT_EQ(int{items[kFirstIncludeBox].Selected}, 7);
  EXPECT_EQ(AnswerFromCommandLine(o, 1, items.data()), kCancelButton);
}

TEST(CommandLine, TakesTheInteractiveSwitch) {
  for (const char* form : {"-i", "--interactive"}) {
    ConsoleOptions o;
    std::string error;
    ASSERT_TRUE(Parse({form, "--last"}, o, error)) << form;
    EXPECT_TRUE(o.Interactive);
    EXPECT_TRUE(o.Last);
  }
  ConsoleOptions o;
  std::string error;
  EXPECT_FALSE(Parse({"--interactive=yes"}, o, error));
}

TEST(CommandLine, HelpFitsEightyColumnsAndNamesInteractive) {
  const std::string help = kHelpText;
  size_t start = 0;
  for (size_t end = help.find('\n'); end != std::string::npos; end = help.find('\n', start)) {
    EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
    start = end + 1;
  }
  EXPECT_NE(help.find("-i, --interactive"), std::string::npos);
}

TEST(CommandLineAnswer, FillsAFieldWith511Characters) {
  ConsoleOptions o;
  o.Last = true;
  o.Mask = std::string(kMaxFieldText, 'm');
  std::vector<FarDialogItem> items = SampleItems();
  ASSERT_EQ(AnswerFromCommandLine(o, 0, items.data()), kConfirmButton);
  EXPECT_EQ(std::string(items[kMaskField].Data), *o.Mask);
}

}  // namespace
}  // namespace marlit::console
