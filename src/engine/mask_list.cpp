// The file mask's list syntax.
#include "engine/mask_list.h"

#include <cstring>

namespace marlit {
namespace {

bool HasListSyntax(std::string_view mask) {
  return mask.find_first_of(",;|\"") != std::string_view::npos;
}

// Builds one pattern at a time at the end of list.Text. Spaces are held back
// until a character follows them, so that those around a pattern drop out
// while quoted ones stay.
struct PatternWriter {
  MaskList& List;
  size_t At = 0;          // where the next character goes
  size_t Start = 0;       // where the pattern being built begins
  size_t HeldSpaces = 0;  // unquoted spaces not yet written

  void Put(char c) {
    for (; HeldSpaces > 0 && At < kDialogTextSize; --HeldSpaces) List.Text[At++] = ' ';
    if (At < kDialogTextSize) List.Text[At++] = c;
  }
  void PutSpace() {
    if (At > Start) ++HeldSpaces;  // leading spaces are never written
  }
  // Ends the pattern; an empty one takes no place in the list.
  void End() {
    HeldSpaces = 0;
    if (At == Start || List.PatternCount == kMaxMaskPatterns) {
      At = Start;
      return;
    }
    List.Text[At++] = '\0';
    List.Patterns[List.PatternCount++] = static_cast<uint16_t>(Start);
    Start = At;
  }
};

}  // namespace

void ReadMaskList(std::string_view mask, MaskList& list) {
  if (mask.size() >= kDialogTextSize) mask = mask.substr(0, kDialogTextSize - 1);
  list.IncludeCount = 0;
  list.PatternCount = 0;
  list.Whole = !HasListSyntax(mask);
  if (list.Whole) {
    std::memcpy(list.Text, mask.data(), mask.size());
    list.Text[mask.size()] = '\0';
    list.Patterns[0] = 0;
    list.IncludeCount = list.PatternCount = 1;
    return;
  }
  // Every character written consumes one of the mask and every terminator a
  // separator or the end, so Text (one byte longer than the field) holds all.
  PatternWriter w{list};
  bool quoted = false;
  bool excluding = false;
  for (const char c : mask) {
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted) {
      w.Put(c);
    } else if (c == ' ') {
      w.PutSpace();
    } else if (c == ',' || c == ';' || (c == '|' && excluding)) {
      w.End();
    } else if (c == '|') {
      w.End();
      list.IncludeCount = list.PatternCount;
      excluding = true;
    } else {
      w.Put(c);
    }
  }
  w.End();
  if (!excluding) list.IncludeCount = list.PatternCount;
  list.Text[w.At < kDialogTextSize ? w.At : kDialogTextSize] = '\0';
}

std::string_view MaskPattern(const MaskList& list, int index) {
  if (index < 0 || index >= list.PatternCount) return {};
  return std::string_view(list.Text + list.Patterns[index]);
}

bool MaskMatches(const MaskList& list, FarApiCmpName cmpName, const char* name) {
  bool included = list.IncludeCount == 0;
  for (int i = 0; i < list.IncludeCount && !included; ++i) {
    included = cmpName(list.Text + list.Patterns[i], name, 1) != 0;
  }
  if (!included) return false;
  for (int i = list.IncludeCount; i < list.PatternCount; ++i) {
    if (cmpName(list.Text + list.Patterns[i], name, 1) != 0) return false;
  }
  return true;
}

}  // namespace marlit
