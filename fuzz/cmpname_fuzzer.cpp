// The console host's name matching (CmpName, masks and single patterns)
// with any mask against any name, checked against a plain model of the same
// rules that matches by dynamic programming. The matcher must also finish
// quickly for every input: scripts/fuzz runs the targets with a timeout, and
// the corpus keeps masks of many '*' and '[' against long names.
//
// Input: u8 skip-path switch, then the mask up to the first zero byte, then
// the name (as a C string up to its first zero byte; whole as a pattern's
// subject). Masks are cut to 600 bytes and names to 300, a little beyond
// what the hosts pass (511 and 259), so that the model's quadratic work does
// not set the pace.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "console/wildcard.h"
#include "fuzz_support.h"

namespace {

using marlit::fuzz::InputReader;
using marlit::fuzz::Require;

constexpr size_t kMaxMask = 600;
constexpr size_t kMaxName = 300;

// One element of a pattern: a run of any bytes, any one byte, one byte of a
// set of ranges, or one byte compared without regard to ASCII case.
struct Element {
  enum Kind { Star, Any, Set, Byte } What;
  unsigned char Value;
  std::vector<std::pair<unsigned char, unsigned char>> Ranges;
};

unsigned char Lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }
unsigned char Upper(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

// A set is '[', at least one member byte, then the first ']' after it; its
// members are single bytes and ranges "x-y". A '[' that no set follows is an
// ordinary byte.
std::vector<Element> Elements(std::string_view p) {
  std::vector<Element> out;
  for (size_t i = 0; i < p.size();) {
    const auto c = static_cast<unsigned char>(p[i]);
    if (c == '*' || c == '?') {
      // A run of '*' matches what one does.
      const bool repeated = c == '*' && !out.empty() && out.back().What == Element::Star;
      if (!repeated) out.push_back(Element{c == '*' ? Element::Star : Element::Any, 0, {}});
      ++i;
      continue;
    }
    size_t close = std::string_view::npos;
    if (c == '[' && i + 2 < p.size()) close = p.find(']', i + 2);
    if (close == std::string_view::npos) {
      out.push_back(Element{Element::Byte, c, {}});
      ++i;
      continue;
    }
    Element set{Element::Set, 0, {}};
    for (size_t k = i + 1; k < close;) {
      const auto from = static_cast<unsigned char>(p[k]);
      if (k + 2 < close && p[k + 1] == '-') {
        set.Ranges.emplace_back(from, static_cast<unsigned char>(p[k + 2]));
        k += 3;
      } else {
        set.Ranges.emplace_back(from, from);
        ++k;
      }
    }
    out.push_back(std::move(set));
    i = close + 1;
  }
  return out;
}

bool Fits(const Element& e, unsigned char b) {
  switch (e.What) {
    case Element::Any:
      return true;
    case Element::Byte:
      return Lower(e.Value) == Lower(b);
    case Element::Set:
      for (const auto& [from, to] : e.Ranges) {
        for (const unsigned char x : {b, Lower(b), Upper(Lower(b))}) {
          if (x >= from && x <= to) return true;
        }
      }
      return false;
    case Element::Star:
      break;
  }
  return false;
}

// matches[j]: the elements from i on match the name from j on; filled from
// the last element back.
bool ModelPattern(std::string_view pattern, std::string_view name) {
  const std::vector<Element> elements = Elements(pattern);
  std::vector<char> next(name.size() + 1, 0), here(name.size() + 1, 0);
  next[name.size()] = 1;
  for (size_t i = elements.size(); i-- > 0;) {
    const Element& e = elements[i];
    here[name.size()] = e.What == Element::Star && next[name.size()];
    for (size_t j = name.size(); j-- > 0;) {
      if (e.What == Element::Star) {
        here[j] = next[j] || here[j + 1];
      } else {
        here[j] = Fits(e, static_cast<unsigned char>(name[j])) && next[j + 1];
      }
    }
    std::swap(next, here);
  }
  return next[0] != 0;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// The patterns of a list, split at any of `separators`, trimmed, empty ones
// left out.
std::vector<std::string_view> Patterns(std::string_view list, std::string_view separators) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (size_t i = 0; i <= list.size(); ++i) {
    if (i == list.size() || separators.find(list[i]) != std::string_view::npos) {
      const std::string_view p = Trim(list.substr(start, i - start));
      if (!p.empty()) out.push_back(p);
      start = i + 1;
    }
  }
  return out;
}

bool ModelOne(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  if (pattern == "*.") return name.find('.') == std::string_view::npos;
  return ModelPattern(pattern, name);
}

// Include patterns before the first '|' (none: every name), exclude patterns
// after it.
bool ModelMask(std::string_view mask, std::string_view name) {
  const size_t bar = mask.find('|');
  const std::vector<std::string_view> include = Patterns(mask.substr(0, bar), ",");
  bool included = include.empty();
  for (const std::string_view p : include) included = included || ModelOne(p, name);
  if (!included) return false;
  if (bar == std::string_view::npos) return true;
  for (const std::string_view p : Patterns(mask.substr(bar + 1), ",|")) {
    if (ModelOne(p, name)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader in{data, size};
  const int skipPath = static_cast<int>(in.Number(1) & 1);
  const std::string_view rest = in.Rest();
  const size_t end = rest.find('\0');
  const std::string mask(rest.substr(0, std::min<size_t>(end, kMaxMask)));
  const std::string_view subject =
      end == std::string_view::npos ? std::string_view() : rest.substr(end + 1, kMaxName);
  const std::string name(subject.substr(0, subject.find('\0')));

  Require(marlit::console::MatchPattern(mask, subject) == ModelPattern(mask, subject),
          "a pattern matches as the model does");
  std::string_view leaf = name;
  if (skipPath != 0) {
    const size_t slash = leaf.find_last_of('/');
    if (slash != std::string_view::npos) leaf.remove_prefix(slash + 1);
  }
  const int matched = marlit::console::ConsoleCmpName(mask.c_str(), name.c_str(), skipPath);
  Require(matched == (ModelMask(mask, leaf) ? 1 : 0), "a mask matches as the model does");
  return 0;
}
