// The file mask as a list of patterns, in the file manager's list syntax. The
// host's name matching compares one wildcard at a time, so the mask is split
// here, once per pass, and each pattern is put to the host on its own.
//
//   *.txt,*.md           either pattern (',' and ';' separate patterns)
//   *.*|*.bak;*.tmp      every name but these (the first '|' starts them)
//   |*.bak               every name but these (no include pattern)
//   "a,b.txt"            quotes keep ',' ';' '|' as characters
//
// Spaces around a pattern and empty patterns are ignored. A mask with none of
// , ; | " is one pattern, handed to the host byte for byte as it stands.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/records.h"

namespace marlit {

// At most one pattern for every two characters of a dialog text.
constexpr int kMaxMaskPatterns = static_cast<int>(kDialogTextSize / 2);

// A mask read once: its patterns as zero-terminated texts in Text, the
// include patterns first.
struct MaskList {
  bool Whole;                           // no list syntax: Text is the mask as it stands
  int IncludeCount;                     // Patterns[0 .. IncludeCount)
  int PatternCount;                     // then the exclusion patterns, up to PatternCount
  uint16_t Patterns[kMaxMaskPatterns];  // offsets into Text
  char Text[kDialogTextSize + 1];
};

// Reads a mask text into its patterns. A text longer than a dialog field holds
// is read as far as the field would hold it.
void ReadMaskList(std::string_view mask, MaskList& list);

// The patterns of a read mask, for those who show it: the include patterns,
// then the exclusion patterns.
std::string_view MaskPattern(const MaskList& list, int index);

// Whether a name passes a read mask: some include pattern matches it (or there
// is none) and no exclusion pattern does. cmpName is the host's matching of
// one pattern, asked with skip-path 1.
bool MaskMatches(const MaskList& list, FarApiCmpName cmpName, const char* name);

}  // namespace marlit
