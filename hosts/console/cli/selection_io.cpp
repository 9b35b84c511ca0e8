#include "console/cli/selection_io.h"

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

// Paths in tree order: component by component, each in byte order, a
// directory before its contents. '/' counts as less than any byte of a name.
bool PathBefore(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    const int x = a[i] == '/' ? 0 : static_cast<unsigned char>(a[i]) + 1;
    const int y = b[i] == '/' ? 0 : static_cast<unsigned char>(b[i]) + 1;
    return x < y;
  }
  return a.size() < b.size();
}

}  // namespace

void ReadListedPaths(std::string text, char separator, std::string_view shown,
                     ListedPaths& listed) {
  listed = ListedPaths();
  listed.Text = std::move(text);
  std::string_view rest = listed.Text;
  while (!rest.empty()) {
    const size_t end = rest.find(separator);
    std::string_view path = rest.substr(0, end);
    if (!path.empty()) {
      if (!shown.empty() && path.starts_with(shown)) path.remove_prefix(shown.size());
      listed.Paths.push_back(path);  // an empty path names the directory itself: no entry
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  std::sort(listed.Paths.begin(), listed.Paths.end(), PathBefore);
}

void MarkListedPaths(ListedPaths& listed, PanelWindow& window) {
  std::string path;
  for (size_t i = 0; i < window.Items.size() && listed.Next < listed.Paths.size(); ++i) {
    path.clear();
    AppendPath(path, window, i);
    size_t& next = listed.Next;
    for (; next < listed.Paths.size() && PathBefore(listed.Paths[next], path); ++next) {
      ++listed.Unnamed;
    }
    for (; next < listed.Paths.size() && listed.Paths[next] == path; ++next) {
      window.Items[i].Flags = window.Items[i].Flags | PPIF_SELECTED;
    }
  }
}

size_t UnnamedPaths(const ListedPaths& listed) {
  return listed.Unnamed + (listed.Paths.size() - listed.Next);
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

std::string LongLine(const PluginPanelItem& item, LocalZone& zone, std::string_view path) {
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
  line += path;
  return line;
}

size_t WriteSelection(std::FILE* out, const PanelWindow& window, const std::vector<uint8_t>& marks,
                      std::string_view shown, const ConsoleOptions& options, LocalZone& zone) {
  const char end = options.NullSeparated ? '\0' : '\n';
  std::string text;
  std::string path;
  size_t count = 0;
  for (size_t i = 0; i < window.Items.size() && i < marks.size(); ++i) {
    if (marks[i] == 0) continue;
    ++count;
    if (options.LongFormat) {
      path.assign(shown);
      AppendPath(path, window, i);
      text += LongLine(window.Items[i], zone, path);
    } else {
      text += shown;
      AppendPath(text, window, i);
    }
    text += end;
    if (text.size() >= 1 << 16) {
      std::fwrite(text.data(), 1, text.size(), out);
      text.clear();
    }
  }
  std::fwrite(text.data(), 1, text.size(), out);
  return count;
}

}  // namespace marlit::console
