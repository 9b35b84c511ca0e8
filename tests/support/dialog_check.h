// The one dialog call the plug-in makes, as the test host recorded it.
#pragma once

#include <gtest/gtest.h>

#include "testhost/testhost.h"

namespace marlit::testhost {

// The module's number, centred 70 by 20, help topic "Contents", 33 items.
inline void ExpectSelectionDialogCall(const ShownDialog& shown) {
  EXPECT_EQ(shown.ModuleNumber, Host.ModuleNumber);
  EXPECT_EQ(shown.X1, -1);
  EXPECT_EQ(shown.Y1, -1);
  EXPECT_EQ(shown.X2, 70);
  EXPECT_EQ(shown.Y2, 20);
  EXPECT_EQ(shown.HelpTopic, "Contents");
  EXPECT_EQ(shown.ItemsNumber, 33);
}

}  // namespace marlit::testhost
