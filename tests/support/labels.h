// Names for the rows of parameterised tests, so that each row reads as a test
// name of its own: the row's number, then its texts with every byte but
// letters and digits shown as '_'. Each row type supplies RowLabel(row).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace marlit::test {

inline std::string Label(std::string_view text) {
  std::string label;
  for (const char c : text.substr(0, 24)) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    label += plain ? c : '_';
  }
  return label;
}

inline std::string Label(const std::vector<std::string>& words) {
  std::string label;
  for (const std::string& word : words) label += (label.empty() ? "" : "_") + Label(word);
  return label;
}

// The name generator for INSTANTIATE_TEST_SUITE_P.
struct RowName {
  template <class Row>
  std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
    return std::to_string(info.index) + "_" + RowLabel(info.param);
  }
};

}  // namespace marlit::test
