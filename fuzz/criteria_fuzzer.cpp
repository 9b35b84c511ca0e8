// Criterion parsing on texts of any bytes and any length up to the dialog's
// 511 characters, then the selection pass over a few items with the result,
// and the console host's reading of the same texts (--explain and warnings).
// The input is three texts separated by NUL bytes: size, date, time.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "console/cli/explain.h"
#include "engine/criteria.h"
#include "engine/selection.h"
#include "platform/text.h"

namespace {

using namespace marlit;

constexpr size_t kMaxText = kDialogTextSize - 1;

std::string_view NextText(const uint8_t*& data, size_t& size) {
  const uint8_t* end = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t length = end != nullptr ? static_cast<size_t>(end - data) : size;
  std::string_view text(reinterpret_cast<const char*>(data), length < kMaxText ? length : kMaxText);
  const size_t used = end != nullptr ? length + 1 : length;
  data += used;
  size -= used;
  return text;
}

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

int MARLIT_WINAPI MatchAll(const char*, const char*, int) { return 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view sizeText = NextText(data, size);
  const std::string_view dateText = NextText(data, size);
  const std::string_view timeText = NextText(data, size);

  SelectionCriteria c{};
  ParseCriteria(sizeText, dateText, timeText, kSystemTime, c);
  for (RangeKind kind : {c.SizeKind, c.DateKind, c.TimeKind}) {
    Check(static_cast<int>(kind) >= 0 && static_cast<int>(kind) <= 4);
  }
  if (c.DateKind == RangeKind::Exact) {
    SYSTEMTIME parsed{};
    ParseDate(dateText, parsed);
    Check(std::memcmp(&parsed, &c.DateFrom, sizeof parsed) == 0);
  }
  if (c.TimeKind == RangeKind::Exact) Check(c.TimeFrom.wSecond == NotGiven);
  Check(sizeText.empty() == (c.SizeKind == RangeKind::None));

  // Items at both ends of the stamp range and in between.
  static const uint64_t kStamps[] = {0, 1, 132'000'000'000'000'000, uint64_t{INT64_MAX},
                                     ~uint64_t{0}};
  PluginPanelItem items[5] = {};
  for (size_t i = 0; i < 5; ++i) {
    items[i].FindData.ftLastWriteTime = FileTimeOf(kStamps[i]);
    items[i].FindData.nFileSizeHigh = static_cast<uint32_t>(i * 0x7fffffffu);
    items[i].FindData.nFileSizeLow = static_cast<uint32_t>(~i);
  }
  PanelInfo panel{};
  panel.PanelItems = items;
  panel.ItemsNumber = 5;
  std::memcpy(c.Mask, "*", 2);
  SelectionPass(panel, c, MatchAll, kSystemTime);

  // Told in one line per criterion and one per warning, whatever the bytes.
  DialogResult confirmed{};
  CopyText(confirmed.Mask, sizeof confirmed.Mask, sizeText);
  CopyText(confirmed.SizeText, sizeof confirmed.SizeText, sizeText);
  CopyText(confirmed.DateText, sizeof confirmed.DateText, dateText);
  CopyText(confirmed.TimeText, sizeof confirmed.TimeText, timeText);
  const console::CriteriaReading reading = console::ReadCriteria(confirmed, kSystemTime);
  Check(reading.Lines.size() == 6);
  for (const auto* lines : {&reading.Lines, &reading.Warnings}) {
    for (const std::string& line : *lines) Check(line.find('\n') == std::string::npos);
  }
  return 0;
}
