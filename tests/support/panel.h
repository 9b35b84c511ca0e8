// Panels of made-up items for tests.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/host.h"

namespace marlit::test {

struct ItemSpec {
  const char* Name;
  uint64_t Size = 0;
  uint32_t Attributes = 0;
  uint64_t Written = 0;  // UTC stamp of the last write
  uint32_t Flags = 0;
};

PluginPanelItem MakeItem(const ItemSpec& spec);

// A panel over the given items; it points into `items`, which must outlive it.
PanelInfo PanelOf(std::vector<PluginPanelItem>& items);

}  // namespace marlit::test
