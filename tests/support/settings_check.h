// Comparing the eight stored values in tests.
#pragma once

#include <gtest/gtest.h>

#include "settings/settings.h"

namespace marlit::test {

// The values a first run loads and a reset shows.
inline SettingsValues DefaultSettings() {
  SettingsValues values{};
  values.Mask[0] = '*', values.Mask[1] = '.', values.Mask[2] = '*';
  return values;
}

inline void ExpectSameSettings(const SettingsValues& got, const SettingsValues& want) {
  EXPECT_EQ(got.ClearFirst, want.ClearFirst);
  EXPECT_EQ(got.Mode, want.Mode);
  EXPECT_EQ(got.InAttr, want.InAttr);
  EXPECT_EQ(got.ExAttr, want.ExAttr);
  EXPECT_STREQ(got.Mask, want.Mask);
  EXPECT_STREQ(got.Date, want.Date);
  EXPECT_STREQ(got.Time, want.Time);
  EXPECT_STREQ(got.Size, want.Size);
}

}  // namespace marlit::test
