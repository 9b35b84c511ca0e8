// The help window's text: one topic of the plug-in's help file, in the host's
// help format, with its markup taken out.
//
// The format: lines before the first topic (".Language=", ".PluginContents=")
// are the file's header; "@Name" opens the topic Name, which runs to the next
// line that opens a topic or to the end; a line beginning with "$" is the
// topic's title line. In a line "#text#" is emphasised, "~text~@Topic@" is a
// link shown as its text, and "##", "~~", "@@" stand for the characters
// themselves; a "^" at the start of a line centres it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marlit::console {

// A line of help text with the emphasis of each byte.
struct HelpLine {
  std::string Text;            // UTF-8 (or the file's bytes as they stand)
  std::vector<bool> Emphasis;  // one per byte of Text
  bool Centred = false;
};

struct HelpTopic {
  bool Found = false;
  std::string Title;
  std::vector<HelpLine> Lines;  // trailing empty lines left out
};

// Removes the markup from one line of a topic.
HelpLine StripHelpMarkup(std::string_view line);

// Finds topic `name` (compared without regard to ASCII case) in the text of a
// help file. Lines end in "\n" or "\r\n".
HelpTopic ExtractHelpTopic(std::string_view file, std::string_view name);

// Breaks a line into pieces of at most `width` cells, at spaces where it can;
// each piece keeps its bytes' emphasis.
std::vector<HelpLine> WrapHelpLine(const HelpLine& line, int width);

}  // namespace marlit::console
