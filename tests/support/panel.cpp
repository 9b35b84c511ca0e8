#include "support/panel.h"

#include <cstring>

namespace marlit::test {

PluginPanelItem MakeItem(const ItemSpec& spec) {
  PluginPanelItem item{};
  item.FindData.dwFileAttributes = spec.Attributes;
  item.FindData.ftLastWriteTime = FileTimeOf(spec.Written);
  item.FindData.nFileSizeHigh = static_cast<uint32_t>(spec.Size >> 32);
  item.FindData.nFileSizeLow = static_cast<uint32_t>(spec.Size);
  std::strncpy(item.FindData.cFileName, spec.Name, sizeof item.FindData.cFileName - 1);
  item.Flags = spec.Flags;
  return item;
}

PanelInfo PanelOf(std::vector<PluginPanelItem>& items) {
  PanelInfo panel{};
  panel.PanelItems = items.data();
  panel.ItemsNumber = static_cast<int>(items.size());
  return panel;
}

}  // namespace marlit::test
