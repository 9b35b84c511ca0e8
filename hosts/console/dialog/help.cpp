#include "console/dialog/help.h"

#include <algorithm>

#include "console/dialog/form.h"

namespace marlit::console {
namespace {

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  return text;
}

void Append(HelpLine& line, std::string_view text, bool emphasis) {
  line.Text += text;
  line.Emphasis.insert(line.Emphasis.end(), text.size(), emphasis);
}

}  // namespace

HelpLine StripHelpMarkup(std::string_view line) {
  HelpLine out;
  if (!line.empty() && line.front() == '^') {
    out.Centred = true;
    line.remove_prefix(1);
  }
  bool emphasis = false;
  size_t at = 0;
  while (at < line.size()) {
    const char c = line[at];
    const bool doubled = at + 1 < line.size() && line[at + 1] == c;
    if ((c == '#' || c == '~' || c == '@') && doubled) {
      Append(out, line.substr(at, 1), emphasis);
      at += 2;
    } else if (c == '#') {
      emphasis = !emphasis;
      ++at;
    } else if (c == '~') {
      // A link: its text, then "@Topic@", which is not shown.
      const size_t close = line.find('~', at + 1);
      const std::string_view text = line.substr(
          at + 1, close == std::string_view::npos ? std::string_view::npos : close - at - 1);
      Append(out, text, true);
      if (close == std::string_view::npos) break;
      at = close + 1;
      if (at < line.size() && line[at] == '@') {
        const size_t end = line.find('@', at + 1);
        at = end == std::string_view::npos ? line.size() : end + 1;
      }
    } else {
      Append(out, line.substr(at, 1), emphasis);
      ++at;
    }
  }
  return out;
}

HelpTopic ExtractHelpTopic(std::string_view file, std::string_view name) {
  HelpTopic topic;
  bool inside = false;
  for (const std::string_view line : SplitLines(file)) {
    const bool opens = !line.empty() && line.front() == '@' && !(line.size() > 1 && line[1] == '@');
    if (opens) {
      if (inside) break;
      inside = EqualNoCase(Trimmed(line.substr(1)), name);
      topic.Found = topic.Found || inside;
      continue;
    }
    if (!inside) continue;
    if (!line.empty() && line.front() == '$') {
      const HelpLine title = StripHelpMarkup(Trimmed(line.substr(1)));
      if (topic.Title.empty()) {
        topic.Title = title.Text;
        continue;
      }
      topic.Lines.push_back(title);
      continue;
    }
    topic.Lines.push_back(StripHelpMarkup(line));
  }
  while (!topic.Lines.empty() && Trimmed(topic.Lines.back().Text).empty()) topic.Lines.pop_back();
  return topic;
}

std::vector<HelpLine> WrapHelpLine(const HelpLine& line, int width) {
  std::vector<HelpLine> pieces;
  const std::vector<Glyph> glyphs = SplitGlyphs(line.Text);
  if (width <= 0 || CellWidth(glyphs) <= width) {
    pieces.push_back(line);
    return pieces;
  }
  std::vector<size_t> offsets;  // the byte offset of each glyph
  size_t offset = 0;
  for (const Glyph& g : glyphs) {
    offsets.push_back(offset);
    offset += g.Bytes.size();
  }
  offsets.push_back(offset);
  size_t indent = 0;
  while (indent < glyphs.size() && glyphs[indent].Code == ' ') ++indent;
  if (static_cast<int>(indent) >= width / 2) indent = 0;
  const auto piece = [&](size_t from, size_t to, bool indented) {
    HelpLine out;
    if (indented) Append(out, std::string(indent, ' '), false);
    out.Text += line.Text.substr(offsets[from], offsets[to] - offsets[from]);
    out.Emphasis.insert(out.Emphasis.end(),
                        line.Emphasis.begin() + static_cast<std::ptrdiff_t>(offsets[from]),
                        line.Emphasis.begin() + static_cast<std::ptrdiff_t>(offsets[to]));
    out.Centred = line.Centred;
    return out;
  };
  size_t start = 0;
  bool indented = false;
  while (start < glyphs.size()) {
    const int room = width - (indented ? static_cast<int>(indent) : 0);
    size_t end = start;
    int cells = 0;
    while (end < glyphs.size() && cells + CellWidth(glyphs[end].Code) <= room) {
      cells += CellWidth(glyphs[end].Code);
      ++end;
    }
    if (end == start) end = start + 1;  // a character wider than the room
    size_t next = end;
    if (end < glyphs.size()) {
      size_t space = end;
      while (space > start && glyphs[space].Code != ' ') --space;
      if (space > start && glyphs[space].Code == ' ') {
        end = space;
        next = space + 1;
      }
    }
    pieces.push_back(piece(start, end, indented));
    start = next;
    indented = true;
    while (start < glyphs.size() && glyphs[start].Code == ' ') ++start;
  }
  return pieces;
}

}  // namespace marlit::console
