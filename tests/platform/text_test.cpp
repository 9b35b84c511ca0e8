// Bounded text formatting: copies never pass the buffer and always end with
// a terminator; joins that do not fit are refused whole.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace marlit {
namespace {

constexpr char kGuard = '#';

TEST(CopyText, CutsToTheBuffer) {
  struct Row {
    const char* Text;
    size_t Capacity;
    const char* Expected;
  } const rows[] = {
      {"abc", 4, "abc"}, {"abcd", 4, "abc"}, {"abc", 1, ""}, {"", 4, ""}, {"abcdef", 2, "a"},
  };
  for (const Row& r : rows) {
    char buffer[8];
    std::string(sizeof buffer, kGuard).copy(buffer, sizeof buffer);
    const size_t copied = CopyText(buffer, r.Capacity, r.Text);
    EXPECT_STREQ(buffer, r.Expected) << r.Text << " into " << r.Capacity;
    EXPECT_EQ(copied, std::string(r.Expected).size());
    for (size_t i = r.Capacity; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], kGuard);
  }
}

TEST(CopyText, ZeroCapacityWritesNothing) {
  char buffer[2] = {kGuard, kGuard};
  EXPECT_EQ(CopyText(buffer, 0, "abc"), 0u);
  EXPECT_EQ(buffer[0], kGuard);
  EXPECT_EQ(CopyText(buffer, 2, std::string_view{}), 0u);  // an empty view with no data
  EXPECT_EQ(buffer[0], '\0');
}

TEST(JoinText, RefusesWhatDoesNotFit) {
  struct Row {
    const char* A;
    const char* B;
    const char* C;
    size_t Capacity;
    bool Fits;
    const char* Expected;
  } const rows[] = {
      {"Software", "\\", "Marlit", 16, true, "Software\\Marlit"},
      {"Software", "\\", "Marlit", 15, false, ""},
      {"", "", "", 1, true, ""},
      {"a", "", "c", 3, true, "ac"},
      {"a", "b", "c", 3, false, ""},
  };
  for (const Row& r : rows) {
    char buffer[32];
    std::string(sizeof buffer, kGuard).copy(buffer, sizeof buffer);
    EXPECT_EQ(JoinText(buffer, r.Capacity, r.A, r.B, r.C), r.Fits) << r.A << r.B << r.C;
    EXPECT_STREQ(buffer, r.Expected);
    for (size_t i = r.Capacity; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], kGuard);
  }
  char none = kGuard;
  EXPECT_FALSE(JoinText(&none, 0, "a", "", ""));
  EXPECT_EQ(none, kGuard);
}

TEST(BoundedLength, StopsAtTheCapacity) {
  const char text[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(BoundedLength(text, 4), 4u);
  EXPECT_EQ(BoundedLength("ab\0cd", 6), 2u);
  EXPECT_EQ(BoundedLength(text, 0), 0u);
}

}  // namespace
}  // namespace marlit
