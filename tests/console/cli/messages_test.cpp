// The texts the console host serves through GetMsg.
#include "console/cli/messages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/labels.h"

namespace marlit::console {
namespace {

using marlit::test::Label;
using marlit::test::RowName;

struct LocaleCase {
  const char* All;
  const char* Messages;
  const char* Lang;
  bool Russian;
};

std::string RowLabel(const LocaleCase& c) {
  std::string label;
  for (const char* value : {c.All, c.Messages, c.Lang}) {
    label += "_" + (value == nullptr ? std::string("unset")
                    : *value == '\0' ? "empty"
                                     : Label(value));
  }
  return label;
}

class Locales : public ::testing::TestWithParam<LocaleCase> {};

void Put(const char* name, const char* value) {
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
}

TEST_P(Locales, PickTheLanguage) {
  const LocaleCase& c = GetParam();
  Put("LC_ALL", c.All);
  Put("LC_MESSAGES", c.Messages);
  Put("LANG", c.Lang);
  EXPECT_EQ(LocaleIsRussian(), c.Russian);
}

INSTANTIATE_TEST_SUITE_P(
    Variables, Locales,
    ::testing::Values(LocaleCase{nullptr, nullptr, nullptr, false},
                      LocaleCase{nullptr, nullptr, "ru_RU.UTF-8", true},
                      LocaleCase{nullptr, nullptr, "ru", true},
                      LocaleCase{nullptr, nullptr, "en_GB.UTF-8", false},
                      LocaleCase{nullptr, nullptr, "C", false},
                      LocaleCase{nullptr, "ru_RU.UTF-8", "en_US.UTF-8", true},
                      LocaleCase{"en_US.UTF-8", "ru_RU.UTF-8", "ru_RU.UTF-8", false},
                      LocaleCase{"ru_UA.KOI8-U", nullptr, "C", true},
                      LocaleCase{"", "", "ru_RU.CP866", true},  // empty ones do not count
                      LocaleCase{nullptr, nullptr, "RU", false}),
    RowName());

TEST(LanguageFiles, AreNamedByLanguage) {
  EXPECT_EQ(LanguageFilePath("/opt/m", false), "/opt/m/marlit_eng.lng");
  EXPECT_EQ(LanguageFilePath("/opt/m", true), "/opt/m/marlit_rus.lng");
}

// Whether a text is well-formed UTF-8 with at least one character beyond ASCII.
bool IsUtf8BeyondAscii(const std::string& text) {
  bool beyond = false;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    beyond = beyond || length > 1;
    i += length;
  }
  return beyond;
}

TEST(InstalledMessages, ComeInTheLocalesLanguage) {
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANG", "en_US.UTF-8", 1);
  LoadMessages(MARLIT_BIN_DIR);
  ASSERT_NE(MessageText(3), nullptr);
  const std::string english = MessageText(3);
  EXPECT_FALSE(english.empty());
  ASSERT_NE(MessageText(25), nullptr);
  EXPECT_EQ(MessageText(-1), nullptr);
  EXPECT_EQ(MessageText(100'000), nullptr);

  setenv("LANG", "ru_RU.UTF-8", 1);
  LoadMessages(MARLIT_BIN_DIR);
  ASSERT_NE(MessageText(1), nullptr);
  ASSERT_NE(MessageText(25), nullptr);
  EXPECT_TRUE(IsUtf8BeyondAscii(MessageText(1))) << MessageText(1);
  EXPECT_TRUE(IsUtf8BeyondAscii(MessageText(25))) << MessageText(25);
}

TEST(InstalledMessages, AreNoneWithoutAFile) {
  setenv("LANG", "C", 1);
  LoadMessages("/nonexistent-marlit-folder");
  EXPECT_EQ(MessageText(0), nullptr);
}

}  // namespace
}  // namespace marlit::console
