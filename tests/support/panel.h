// Panels of made-up items for tests.
#pragma once

#include <cstdint>
#include <vector>

#include "host/records.h"

namespace marlit::test {

// Attribute shorthands for item tables: `using namespace marlit::test::attr;`.
namespace attr {
constexpr uint32_t A = FILE_ATTRIBUTE_ARCHIVE;
constexpr uint32_t R = FILE_ATTRIBUTE_READONLY;
constexpr uint32_t H = FILE_ATTRIBUTE_HIDDEN;
constexpr uint32_t S = FILE_ATTRIBUTE_SYSTEM;
constexpr uint32_t D = FILE_ATTRIBUTE_DIRECTORY;
constexpr uint32_t C = FILE_ATTRIBUTE_COMPRESSED;
}  // namespace attr

struct ItemWanted {
  const char* Name;
  uint64_t Size = 0;
  uint32_t Attributes = 0;
  uint64_t Written = 0;  // UTC stamp of the last write
  uint32_t Flags = 0;
};

PluginPanelItem MakeItem(const ItemWanted& wanted);

// A panel over the given items; it points into `items`, which must outlive it.
PanelInfo PanelOf(std::vector<PluginPanelItem>& items);

}  // namespace marlit::test
