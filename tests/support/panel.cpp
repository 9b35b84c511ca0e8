#include "support/panel.h"

#include <cstring>

namespace marlit::test {

PluginPanelItem MakeItem(const ItemWanted& wanted) {
  PluginPanelItem item{};
  item.FindData.dwFileAttributes = wanted.Attributes;
  item.FindData.ftLastWriteTime = FileTimeOf(wanted.Written);
  item.FindData.nFileSizeHigh = static_cast<uint32_t>(wanted.Size >> 32);
  item.FindData.nFileSizeLow = static_cast<uint32_t>(wanted.Size);
  std::strncpy(item.FindData.cFileName, wanted.Name, sizeof item.FindData.cFileName - 1);
  item.Flags = wanted.Flags;
  return item;
}

PanelInfo PanelOf(std::vector<PluginPanelItem>& items) {
  PanelInfo panel{};
  panel.PanelItems = items.data();
  panel.ItemsNumber = static_cast<int>(items.size());
  return panel;
}

}  // namespace marlit::test
