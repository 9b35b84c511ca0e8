#include "console/session/wildcard.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace marlit::console {
namespace {

// Unicode simple case folding as runs: the code points First, First + Stride,
// ... (Count of them) fold to themselves plus Delta. Sorted by First; the runs
// do not overlap.
struct FoldRun {
  char32_t First;
  uint16_t Count;
  uint8_t Stride;
  int32_t Delta;
};

constexpr FoldRun kFoldRuns[] = {
#include "console/session/case_fold_table.inc"
};

constexpr char32_t LastOf(const FoldRun& run) {
  return run.First + static_cast<char32_t>((run.Count - 1) * run.Stride);
}

constexpr bool Covers(const FoldRun& run, char32_t c) {
  return c >= run.First && c <= LastOf(run) && (c - run.First) % run.Stride == 0;
}

constexpr char32_t AsciiFold(char32_t c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }
constexpr char32_t AsciiUpper(char32_t c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

// One character of a text: its code and its length in bytes. Read byte by
// byte, every byte is a character of its own.
struct Character {
  char32_t Code;
  size_t Length;
};

// The character at byte i of a text already known to be valid UTF-8 when
// read as UTF-8. Both readings are compiled apart, so that matching bytes
// costs nothing for the other.
template <bool Utf8>
Character CharacterAt(std::string_view s, size_t i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  if (!Utf8 || lead < 0x80) return {lead, 1};
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  char32_t code = lead & (0x7Fu >> length);
  for (size_t k = 1; k < length; ++k) {
    code = code << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
  }
  return {code, length};
}

// Matching bytes folds ASCII letters only: a byte above 0x7F means nothing
// of its own.
template <bool Utf8>
char32_t Fold(char32_t c) {
  return Utf8 ? FoldCase(c) : AsciiFold(c);
}

// Whether some character of the range [from, to] folds as the name's
// character does: the character itself, its fold, or another character with
// the same fold (such as its capital).
template <bool Utf8>
bool InFoldedRange(char32_t c, char32_t folded, char32_t from, char32_t to) {
  const auto inside = [&](char32_t x) { return x >= from && x <= to; };
  if (inside(c) || inside(folded)) return true;
  if (folded >= 'a' && folded <= 'z' && inside(folded - 'a' + 'A')) return true;
  // Other characters folding to the same one lie beyond ASCII, and so
  // outside a range that ends within it.
  if (!Utf8 || to < 0x80) return false;
  for (const FoldRun& run : kFoldRuns) {
    const char32_t source = folded - static_cast<char32_t>(run.Delta);
    if (Covers(run, source) && inside(source)) return true;
  }
  return false;
}

// Whether the name's character fits the set between `first` and `end` (the
// pattern's bytes after '[' up to the ']'): single characters, and ranges
// "a-z" where a '-' stands between two of them (a '-' first or last is
// itself).
template <bool Utf8>
bool InSet(std::string_view p, size_t first, size_t end, Character ch) {
  const char32_t folded = Fold<Utf8>(ch.Code);
  for (size_t i = first; i < end;) {
    const Character from = CharacterAt<Utf8>(p, i);
    i += from.Length;
    if (i + 1 < end && p[i] == '-') {
      const Character to = CharacterAt<Utf8>(p, i + 1);
      i += 1 + to.Length;
      if (from.Code < 0x80 && to.Code < 0x80 && ch.Code < 0x80) {
        // As the file manager compares: all three in capitals, so that [a-Z]
        // holds every letter and [Z-a] none.
        const char32_t c = AsciiUpper(ch.Code);
        if (c >= AsciiUpper(from.Code) && c <= AsciiUpper(to.Code)) return true;
      } else if (InFoldedRange<Utf8>(ch.Code, folded, from.Code, to.Code)) {
        return true;
      }
    } else if (Fold<Utf8>(from.Code) == folded) {
      return true;
    }
  }
  return false;
}

// Greedy matching with one backtrack point, as the file manager matches: on a
// mismatch only the last '*' takes one more character, since an earlier '*'
// could gain nothing a later one cannot. Each step advances the name or that
// '*', so the work is bounded by the product of the lengths, never
// exponential. Its rules beyond the plain ones: a set runs to the first ']'
// ("[]" is empty and matches no character, "[" without a ']' is itself), and
// at the end of the name a pattern left with ".*", or with "." when the name
// has no dot, matches ("ab.*" and "ab." both match "ab").
template <bool Utf8>
bool MatchIn(std::string_view p, std::string_view s) {
  constexpr size_t kNone = std::string_view::npos;
  const bool hasDot = s.find('.') != kNone;
  size_t pi = 0;
  size_t si = 0;
  size_t starPattern = kNone;
  size_t starName = 0;
  const auto backtrack = [&] {
    if (starPattern == kNone || starName >= s.size()) return false;
    starName += CharacterAt<Utf8>(s, starName).Length;
    si = starName;
    pi = starPattern;
    return true;
  };
  while (true) {
    if (pi == p.size()) {
      if (si == s.size()) return true;
      if (!backtrack()) return false;
      continue;
    }
    if (p[pi] == '*') {
      starPattern = ++pi;
      starName = si;
      continue;
    }
    if (p[pi] == '?') {
      if (si == s.size()) return false;
      ++pi;
      si += CharacterAt<Utf8>(s, si).Length;
      continue;
    }
    if (p[pi] == '[') {
      const size_t close = p.find(']', pi + 1);
      if (close != kNone) {
        if (close == pi + 1) {
          pi = close + 1;
          continue;
        }
        if (si == s.size()) return false;
        const Character ch = CharacterAt<Utf8>(s, si);
        if (InSet<Utf8>(p, pi + 1, close, ch)) {
          pi = close + 1;
          si += ch.Length;
          continue;
        }
        if (!backtrack()) return false;
        continue;
      }
    }
    const Character element = CharacterAt<Utf8>(p, pi);
    if (si < s.size()) {
      const Character ch = CharacterAt<Utf8>(s, si);
      if (Fold<Utf8>(element.Code) == Fold<Utf8>(ch.Code)) {
        pi += element.Length;
        si += ch.Length;
        continue;
      }
    } else {
      const std::string_view rest = p.substr(pi);
      if (rest == ".*" || (rest == "." && !hasDot)) return true;
    }
    if (!backtrack()) return false;
  }
}

// Whether the name ends with the text, ASCII letters compared without case.
bool EndsWithFolded(std::string_view name, std::string_view tail) {
  if (name.size() < tail.size()) return false;
  const char* const end = name.data() + name.size() - tail.size();
  for (size_t i = 0; i < tail.size(); ++i) {
    if (AsciiFold(static_cast<unsigned char>(end[i])) !=
        AsciiFold(static_cast<unsigned char>(tail[i]))) {
      return false;
    }
  }
  return true;
}

// Whether a text holds none of the wildcards '*' '?' '['.
bool IsPlainTail(std::string_view text) {
  for (const char c : text) {
    if (c == '*' || c == '?' || c == '[') return false;
  }
  return true;
}

bool MatchOne(std::string_view pattern, std::string_view name, bool utf8) {
  if (pattern == "*" || pattern == "*.*") return true;
  // The commonest mask, "*.log" and the like, read as bytes: a tail to compare
  // (one that ends in '.' may match a name without a dot).
  if (!utf8 && pattern.size() > 1 && pattern[0] == '*' && pattern.back() != '.' &&
      IsPlainTail(pattern.substr(1))) {
    return EndsWithFolded(name, pattern.substr(1));
  }
  return utf8 ? MatchIn<true>(pattern, name) : MatchIn<false>(pattern, name);
}

// Whether any byte of the text is beyond ASCII, eight bytes at a time.
bool HasHighByte(std::string_view text) {
  uint64_t any = 0;
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, text.data() + i, sizeof word);
    any |= word;
  }
  for (; i < text.size(); ++i) any |= static_cast<unsigned char>(text[i]);
  return (any & 0x8080808080808080u) != 0;
}

// Read as UTF-8 when both texts are; ASCII alone reads the same either way,
// and faster as bytes.
bool ReadAsUtf8(std::string_view pattern, std::string_view name) {
  if (!HasHighByte(pattern) && !HasHighByte(name)) return false;
  return IsUtf8(pattern) && IsUtf8(name);
}

}  // namespace

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return AsciiFold(c);
  const auto after = std::upper_bound(std::begin(kFoldRuns), std::end(kFoldRuns), c,
                                      [](char32_t x, const FoldRun& run) { return x < run.First; });
  if (after == std::begin(kFoldRuns)) return c;
  const FoldRun& run = *std::prev(after);
  return Covers(run, c) ? c + static_cast<char32_t>(run.Delta) : c;
}

bool IsUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    // The second byte's range excludes overlong forms (E0, F0), surrogates
    // (ED) and code points above U+10FFFF (F4).
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto byte = static_cast<unsigned char>(text[i + k]);
      if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF)) return false;
    }
    i += length;
  }
  return true;
}

bool MatchPattern(std::string_view pattern, std::string_view name) {
  return ReadAsUtf8(pattern, name) ? MatchIn<true>(pattern, name) : MatchIn<false>(pattern, name);
}

int MARLIT_WINAPI ConsoleCmpName(const char* pattern, const char* name, int skipPath) {
  if (pattern == nullptr || name == nullptr) return 0;
  // The commonest masks of all, asked about every item: nothing to read.
  if (pattern[0] == '*' &&
      (pattern[1] == '\0' || (pattern[1] == '.' && pattern[2] == '*' && pattern[3] == '\0'))) {
    return 1;
  }
  // On Linux '/' alone separates directories; '\\' may stand in a name.
  std::string_view subject(name);
  if (skipPath != 0) {
    const void* const slash = memrchr(subject.data(), '/', subject.size());
    if (slash != nullptr) subject.remove_prefix(static_cast<const char*>(slash) - name + 1);
  }
  const std::string_view mask(pattern);
  return MatchOne(mask, subject, ReadAsUtf8(mask, subject)) ? 1 : 0;
}

}  // namespace marlit::console
