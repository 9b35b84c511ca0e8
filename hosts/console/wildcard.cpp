#include "console/wildcard.h"

#include <cstddef>

namespace marlit::console {
namespace {

constexpr unsigned char Fold(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

constexpr bool SameByte(char a, char b) {
  return Fold(static_cast<unsigned char>(a)) == Fold(static_cast<unsigned char>(b));
}

// Matches one byte against the pattern element at `at` (not a '*'). Sets
// `next` to the position after the element. Returns whether the byte fits.
bool MatchElement(std::string_view p, size_t at, char byte, size_t& next) {
  const char c = p[at];
  if (c == '?') {
    next = at + 1;
    return true;
  }
  if (c == '[') {
    // The set runs to the first ']' after at least one member; without one
    // the '[' is an ordinary byte.
    const size_t close = p.find(']', at + 2);
    if (close != std::string_view::npos) {
      next = close + 1;
      const unsigned char b = static_cast<unsigned char>(byte);
      const unsigned char lower = Fold(b);
      const unsigned char upper = lower >= 'a' && lower <= 'z' ? lower - 'a' + 'A' : lower;
      for (size_t i = at + 1; i < close; ++i) {
        const unsigned char from = static_cast<unsigned char>(p[i]);
        unsigned char to = from;
        if (i + 2 < close && p[i + 1] == '-') {
          to = static_cast<unsigned char>(p[i + 2]);
          i += 2;
        }
        for (const unsigned char candidate : {b, lower, upper}) {
          if (candidate >= from && candidate <= to) return true;
        }
      }
      return false;
    }
  }
  next = at + 1;
  return SameByte(c, byte);
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool MatchOne(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  if (pattern == "*.") return name.find('.') == std::string_view::npos;
  return MatchPattern(pattern, name);
}

// Whether any pattern of a list separated by `separators` matches. Empty
// patterns are skipped; `any` tells whether the list had a pattern at all.
bool MatchList(std::string_view list, std::string_view separators, std::string_view name,
               bool& any) {
  any = false;
  while (true) {
    const size_t end = list.find_first_of(separators);
    const std::string_view pattern = Trimmed(list.substr(0, end));
    if (!pattern.empty()) {
      any = true;
      if (MatchOne(pattern, name)) return true;
    }
    if (end == std::string_view::npos) return false;
    list.remove_prefix(end + 1);
  }
}

}  // namespace

// Greedy matching with one backtrack point: on a mismatch only the last '*'
// takes one more byte, since an earlier '*' could gain nothing a later one
// cannot. Each step advances the name or that '*', so the work is bounded by
// the product of the lengths, never exponential.
bool MatchPattern(std::string_view p, std::string_view s) {
  size_t pi = 0;
  size_t si = 0;
  size_t starPattern = std::string_view::npos;
  size_t starName = 0;
  while (si < s.size()) {
    if (pi < p.size()) {
      if (p[pi] == '*') {
        starPattern = ++pi;
        starName = si;
        continue;
      }
      size_t next = 0;
      if (MatchElement(p, pi, s[si], next)) {
        pi = next;
        ++si;
        continue;
      }
    }
    if (starPattern == std::string_view::npos) return false;
    pi = starPattern;
    si = ++starName;
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

bool MatchMask(std::string_view mask, std::string_view name) {
  const size_t bar = mask.find('|');
  const std::string_view include = mask.substr(0, bar);
  bool any = false;
  if (!MatchList(include, ",", name, any) && any) return false;
  if (bar == std::string_view::npos) return true;
  return !MatchList(mask.substr(bar + 1), ",|", name, any);
}

int MARLIT_WINAPI ConsoleCmpName(const char* pattern, const char* name, int skipPath) {
  if (pattern == nullptr || name == nullptr) return 0;
  std::string_view subject(name);
  if (skipPath != 0) {
    // On Linux '/' alone separates directories; '\\' may stand in a name.
    const size_t slash = subject.find_last_of('/');
    if (slash != std::string_view::npos) subject.remove_prefix(slash + 1);
  }
  return MatchMask(pattern, subject) ? 1 : 0;
}

}  // namespace marlit::console
