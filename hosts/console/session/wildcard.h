// The console host's name matching, served to the plug-in as CmpName: the
// wildcard rules a user of the file manager expects, with no backtracking
// blow-up for any pattern (the work grows with the product of the lengths of
// pattern and name at most).
//
// Names are compared character by character when the name and the pattern
// are both valid UTF-8, and byte by byte otherwise (a name in another
// encoding is matched as its bytes, as before).
#pragma once

#include <string_view>

#include "host/records.h"

namespace marlit::console {

// Whether one pattern matches the whole name: '*' any run of characters, '?'
// one character, "[a-z0-9_]" one character of a set of single characters and
// ranges (no negation; a '-' first or last in the set is itself). Letters
// compare without case: every letter Unicode folds in UTF-8 text, ASCII
// letters only when matching bytes. A '[' without a closing ']' stands for
// itself.
bool MatchPattern(std::string_view pattern, std::string_view name);

// The CmpName service: non-zero when one pattern matches the name, as the
// file manager compares it: ',' ';' '|' are characters like any other (the
// plug-in splits mask lists itself); "*.*" matches every name, "*." every
// name without a dot. With skipPath the name's directory part (up to the last
// '/') is left out first.
int MARLIT_WINAPI ConsoleCmpName(const char* pattern, const char* name, int skipPath);

// Unicode simple case folding of one code point (e.g. 'É' to 'é', 'Я' to 'я');
// a code point without a fold is itself.
char32_t FoldCase(char32_t c);

// Whether the text is well-formed UTF-8: no stray or missing continuation
// byte, no overlong form, no surrogate, nothing above U+10FFFF.
bool IsUtf8(std::string_view text);

}  // namespace marlit::console
