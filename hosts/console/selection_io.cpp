#include "console/selection_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/text.h"

namespace marlit::console {
namespace {

constexpr uint32_t kLetterAttributes[] = {FILE_ATTRIBUTE_ARCHIVE,   FILE_ATTRIBUTE_READONLY,
                                          FILE_ATTRIBUTE_HIDDEN,    FILE_ATTRIBUTE_SYSTEM,
                                          FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_COMPRESSED};
constexpr char kLetters[] = "arhsdc";
static_assert(std::size(kLetterAttributes) + 1 == sizeof kLetters);

std::string_view NameOf(const PluginPanelItem& item) {
  return std::string_view(item.FindData.cFileName,
                          BoundedLength(item.FindData.cFileName, kMaxPath));
}

}  // namespace

void MarkListedNames(std::string_view text, char separator, std::span<PluginPanelItem> items) {
  const auto before = [](const PluginPanelItem& item, std::string_view name) {
    return NameOf(item) < name;
  };
  while (!text.empty()) {
    const size_t end = text.find(separator);
    const std::string_view name = text.substr(0, end);
    if (!name.empty()) {
      const auto it = std::lower_bound(items.begin(), items.end(), name, before);
      if (it != items.end() && NameOf(*it) == name) it->Flags = it->Flags | PPIF_SELECTED;
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
  const bool standardInput = path == "-";
  std::FILE* in = standardInput ? stdin : std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    error = "cannot open '" + path + "': " + std::strerror(errno);
    return false;
  }
  char block[65536];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, in)) > 0) text.append(block, got);
  const bool failed = std::ferror(in) != 0;
  const int code = errno;
  if (!standardInput) std::fclose(in);
  if (failed) {
    error = "cannot read '" + path + "': " + std::strerror(code);
    return false;
  }
  return true;
}

std::string AttributeLetters(uint32_t attributes) {
  std::string letters(std::size(kLetterAttributes), '-');
  for (size_t k = 0; k < letters.size(); ++k) {
    if ((attributes & kLetterAttributes[k]) != 0) letters[k] = kLetters[k];
  }
  return letters;
}

std::string LongLine(const PluginPanelItem& item, LocalZone& zone) {
  const HostFindData& data = item.FindData;
  const uint64_t size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  const ItemWriteTime t = LocalWriteTime(item, zone, true);
  char when[48] = "---------- --------";
  if (t.Valid) {
    std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{t.Fields.wYear},
                  unsigned{t.Fields.wMonth}, unsigned{t.Fields.wDay}, unsigned{t.Fields.wHour},
                  unsigned{t.Fields.wMinute}, unsigned{t.Fields.wSecond});
  }
  char head[96];
  std::snprintf(head, sizeof head, "%12llu %s %s ", static_cast<unsigned long long>(size), when,
                AttributeLetters(data.dwFileAttributes).c_str());
  std::string line(head);
  line += NameOf(item);
  return line;
}

size_t WriteSelection(std::FILE* out, std::span<const PluginPanelItem> items,
                      const std::vector<uint8_t>& marks, const ConsoleOptions& options) {
  const char end = options.NullSeparated ? '\0' : '\n';
  LocalZone zone = OpenLocalZone(kSystemTime, options.LongFormat ? items.size() : 0);
  std::string text;
  size_t count = 0;
  for (size_t i = 0; i < items.size() && i < marks.size(); ++i) {
    if (marks[i] == 0) continue;
    ++count;
    if (options.LongFormat) {
      text += LongLine(items[i], zone);
    } else {
      text += NameOf(items[i]);
    }
    text += end;
    if (text.size() >= 1 << 16) {
      std::fwrite(text.data(), 1, text.size(), out);
      text.clear();
    }
  }
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
  return count;
}

}  // namespace marlit::console
