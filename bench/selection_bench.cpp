// The selection pass over a panel of 1,000,000 items, beside a baseline that
// only reads what the pass reads of each item. Run in a zone with daylight
// saving and in UTC:
//   TZ=Europe/Berlin build/native/bench/selection_bench
//   TZ=UTC build/native/bench/selection_bench
// Items per second are in the "items_per_second" column; the ratio of a pass
// to the baseline is what tells the pass's own cost. The items were written
// over five years (2020 to 2024), so that their local times fall on both
// sides of many changes of offset.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/selection.h"
#include "support/fake_clock.h"
#include "support/panel.h"

namespace marlit {
namespace {

constexpr int kItems = 1'000'000;

std::vector<PluginPanelItem> MakePanel() {
  std::vector<PluginPanelItem> items;
  items.reserve(kItems);
  const uint64_t start = test::Stamp(2020, 1, 1);
  uint32_t seed = 12345;
  for (int i = 0; i < kItems; ++i) {
    seed = seed * 1103515245u + 12345u;
    const std::string name = "file" + std::to_string(i) + ".dat";
    test::ItemWanted wanted{name.c_str()};
    wanted.Size = seed % (1u << 20);
    wanted.Attributes = (seed >> 8) % 2 ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_HIDDEN;
    wanted.Written = start + uint64_t{seed % (5 * 365)} * kTicksPerDay + (seed >> 4) % kTicksPerDay;
    items.push_back(test::MakeItem(wanted));
  }
  return items;
}

std::vector<PluginPanelItem>& Panel() {
  static std::vector<PluginPanelItem> items = MakePanel();
  return items;
}

SelectionCriteria Criteria(const char* mask, const char* size, const char* date, const char* time,
                           uint32_t in, uint32_t ex) {
  SelectionCriteria c{};
  ParseCriteria(size, date, time, kSystemTime, c);
  std::strncpy(c.Mask, mask, sizeof c.Mask - 1);
  for (int bit = 0; bit < kAttributeCount; ++bit) {
    c.InAttr[bit] = (in >> bit & 1) != 0;
    c.ExAttr[bit] = (ex >> bit & 1) != 0;
  }
  c.Mode = SelectionAction::Invert;
  return c;
}

// A stand-in for the host's name matching that costs next to nothing (every
// name with a first byte matches), so that the figures are the pass's own
// cost: the host's matching is the host's, and a real mask costs the same
// with every criterion.
int MARLIT_WINAPI AnyNameCmpName(const char*, const char* name, int) { return name[0] != '\0'; }

void RunPass(benchmark::State& state, const SelectionCriteria& c) {
  std::vector<PluginPanelItem>& items = Panel();
  PanelInfo panel = test::PanelOf(items);
  for (auto _ : state) {
    SelectionPass(panel, c, AnyNameCmpName, kSystemTime);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}

// Reads each item's attributes, size and time stamp, as the pass must.
void BM_Baseline(benchmark::State& state) {
  std::vector<PluginPanelItem>& items = Panel();
  for (auto _ : state) {
    uint64_t sum = 0;
    for (const PluginPanelItem& item : items) {
      const FILETIME written = item.FindData.ftLastWriteTime;
      sum += item.FindData.dwFileAttributes + item.FindData.nFileSizeLow +
             item.FindData.nFileSizeHigh + StampOf(written);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}

void BM_MaskOnly(benchmark::State& state) { RunPass(state, Criteria("*.dat", "", "", "", 0, 0)); }

// Every item passes mask, size and attributes and reaches the date and time
// tests, so every criterion is worked out for every item.
void BM_EveryCriterion(benchmark::State& state) {
  RunPass(state, Criteria("*.dat", "..2m", "1-1-19..31-12-30", "..23:59", 0x5, 0x6));
}

// A date range alone: each item's local write time against two bounds.
void BM_DateRange(benchmark::State& state) {
  RunPass(state, Criteria("*.dat", "", "1-1-21..31-12-23", "", 0, 0));
}

// An exact date splits each item's time stamp into calendar fields.
void BM_ExactDate(benchmark::State& state) {
  RunPass(state, Criteria("*.dat", "..2m", "-6-", "", 0, 0));
}

BENCHMARK(BM_Baseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaskOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EveryCriterion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DateRange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactDate)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace marlit

BENCHMARK_MAIN();
