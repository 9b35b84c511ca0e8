// The console host's name matching, served to the plug-in as CmpName: the
// wildcard rules a user of the file manager expects, in time linear in the
// lengths of mask and name for every pattern (no backtracking blow-up).
#pragma once

#include <string_view>

#include "host/records.h"

namespace marlit::console {

// Whether one pattern matches the whole name: '*' any run of bytes, '?' one
// byte, "[a-z0-9_]" one byte of a set of single bytes and ranges; ASCII
// letters compare without case, every other byte exactly. A '[' without a
// closing ']' stands for itself.
bool MatchPattern(std::string_view pattern, std::string_view name);

// Whether a mask matches: a comma-separated list of patterns, any of which may
// match, and after a '|' a list of patterns none of which may match (an empty
// include list stands for every name). Spaces around a pattern are ignored.
// "*.*" matches every name, "*." every name without a dot.
bool MatchMask(std::string_view mask, std::string_view name);

// The CmpName service: non-zero when the mask matches the name; with skipPath
// the name's directory part (up to the last '/') is left out first.
int MARLIT_WINAPI ConsoleCmpName(const char* pattern, const char* name, int skipPath);

}  // namespace marlit::console
