// The console host's name matching (CmpName and single patterns) and the
// plug-in's reading of mask lists over it,
// with any mask against any name, checked against a plain model of the same
// rules that matches by dynamic programming over characters (UTF-8 ones when
// mask and name are both well-formed, else bytes). The matcher must also finish
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
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "console/session/wildcard.h"
#include "engine/mask_list.h"
#include "fuzz_support.h"

namespace {

using marlit::fuzz::InputReader;
using marlit::fuzz::Require;

constexpr size_t kMaxMask = 600;
constexpr size_t kMaxName = 300;

// How the model reads a text: as UTF-8 characters when mask and name are
// both well-formed, else as bytes. Its own decoder: take the bits the lead
// byte announces, then insist that the code point written back gives the
// same bytes (so overlong forms fail), and is no surrogate.
bool ModelDecode(std::string_view s, size_t i, char32_t& code, size_t& length) {
  const auto lead = static_cast<unsigned char>(s[i]);
  length = lead < 0x80             ? 1
           : (lead & 0xE0) == 0xC0 ? 2
           : (lead & 0xF0) == 0xE0 ? 3
           : (lead & 0xF8) == 0xF0 ? 4
                                   : 0;
  if (length == 0 || i + length > s.size()) return false;
  code = length == 1 ? lead : lead & (0xFF >> (length + 1));
  for (size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    code = (code << 6) | (b & 0x3F);
  }
  const size_t needed = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
  return needed == length && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
}

bool ModelUtf8(std::string_view s) {
  char32_t code = 0;
  size_t length = 0;
  for (size_t i = 0; i < s.size(); i += length) {
    if (!ModelDecode(s, i, code, length)) return false;
  }
  return true;
}

// The characters of a text, read as the mode says.
std::vector<char32_t> Characters(std::string_view s, bool utf8) {
  std::vector<char32_t> out;
  char32_t code = 0;
  size_t length = 1;
  for (size_t i = 0; i < s.size(); i += length) {
    if (utf8) {
      ModelDecode(s, i, code, length);
    } else {
      code = static_cast<unsigned char>(s[i]);
      length = 1;
    }
    out.push_back(code);
  }
  return out;
}

// Every code point that folds to a given one, besides itself: the inverse of
// the folding, found once by trying every code point.
const std::vector<char32_t>& Unfolded(char32_t folded) {
  static const auto* const inverse = [] {
    auto* map = new std::unordered_map<char32_t, std::vector<char32_t>>();
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
      const char32_t f = marlit::console::FoldCase(c);
      if (f != c) (*map)[f].push_back(c);
    }
    return map;
  }();
  static const std::vector<char32_t> none;
  const auto found = inverse->find(folded);
  return found == inverse->end() ? none : found->second;
}

char32_t ModelFold(char32_t c, bool utf8) {
  if (utf8) return marlit::console::FoldCase(c);
  return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

// One element of a pattern: a run of any characters, any one character, one
// character of a set of ranges, or one character compared without case.
struct Element {
  enum Kind { Star, Any, Set, Char } What;
  char32_t Value;
  std::vector<std::pair<char32_t, char32_t>> Ranges;
};

// A set is '[', at least one member, then the first ']' after it; its members
// are single characters and ranges "x-y". A '[' that no set follows is an
// ordinary character.
std::vector<Element> Elements(const std::vector<char32_t>& p) {
  std::vector<Element> out;
  for (size_t i = 0; i < p.size();) {
    const char32_t c = p[i];
    if (c == '*' || c == '?') {
      // A run of '*' matches what one does.
      const bool repeated = c == '*' && !out.empty() && out.back().What == Element::Star;
      if (!repeated) out.push_back(Element{c == '*' ? Element::Star : Element::Any, 0, {}});
      ++i;
      continue;
    }
    size_t close = p.size();
    if (c == '[' && i + 2 < p.size()) {
      close = static_cast<size_t>(
          std::find(p.begin() + static_cast<ptrdiff_t>(i) + 2, p.end(), U']') - p.begin());
    }
    if (close == p.size()) {
      out.push_back(Element{Element::Char, c, {}});
      ++i;
      continue;
    }
    Element set{Element::Set, 0, {}};
    for (size_t k = i + 1; k < close;) {
      if (k + 2 < close && p[k + 1] == '-') {
        set.Ranges.emplace_back(p[k], p[k + 2]);
        k += 3;
      } else {
        set.Ranges.emplace_back(p[k], p[k]);
        ++k;
      }
    }
    out.push_back(std::move(set));
    i = close + 1;
  }
  return out;
}

// One character of the name with its fold and the other characters of the
// same fold, worked out once per name.
struct NameChar {
  char32_t Code;
  char32_t Folded;
  const std::vector<char32_t>* Others;
};

// A character fits a set when some member folds as it does.
bool Fits(const Element& e, const NameChar& c, bool utf8) {
  switch (e.What) {
    case Element::Any:
      return true;
    case Element::Char:
      return ModelFold(e.Value, utf8) == c.Folded;
    case Element::Set:
      for (const auto& range : e.Ranges) {
        const auto inside = [&](char32_t x) { return x >= range.first && x <= range.second; };
        if (inside(c.Code) || inside(c.Folded)) return true;
        for (const char32_t x : *c.Others) {
          if (inside(x)) return true;
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
bool ModelPattern(std::string_view pattern, std::string_view subject, bool utf8) {
  const std::vector<Element> elements = Elements(Characters(pattern, utf8));
  std::vector<NameChar> name;
  for (const char32_t c : Characters(subject, utf8)) {
    // Bytes fold ASCII letters only: a small letter's one other is its capital.
    static const auto* const capitals = [] {
      auto* list = new std::vector<std::vector<char32_t>>();
      for (char32_t x = 'A'; x <= 'Z'; ++x) list->push_back({x});
      return list;
    }();
    static const std::vector<char32_t> none;
    const char32_t folded = ModelFold(c, utf8);
    const std::vector<char32_t>* others = &Unfolded(folded);
    if (!utf8) others = folded >= 'a' && folded <= 'z' ? &(*capitals)[folded - 'a'] : &none;
    name.push_back(NameChar{c, folded, others});
  }
  std::vector<char> next(name.size() + 1, 0), here(name.size() + 1, 0);
  next[name.size()] = 1;
  for (size_t i = elements.size(); i-- > 0;) {
    const Element& e = elements[i];
    here[name.size()] = e.What == Element::Star && next[name.size()];
    for (size_t j = name.size(); j-- > 0;) {
      if (e.What == Element::Star) {
        here[j] = next[j] || here[j + 1];
      } else {
        here[j] = Fits(e, name[j], utf8) && next[j + 1];
      }
    }
    std::swap(next, here);
  }
  return next[0] != 0;
}

bool ModelOne(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  if (pattern == "*.") return name.find('.') == std::string_view::npos;
  return ModelPattern(pattern, name, ModelUtf8(pattern) && ModelUtf8(name));
}

// The list syntax read character by character: each character with whether
// it stood in quotes; unquoted ',' ';' end a pattern, the first unquoted '|'
// ends the include patterns and later ones end a pattern; unquoted spaces at
// either end of a pattern and empty patterns drop out.
bool ModelMask(std::string_view mask, std::string_view name) {
  std::vector<std::string> include, exclude;
  std::vector<std::pair<char, bool>> current;
  bool quoted = false, excluding = false;
  const auto finish = [&] {
    while (!current.empty() && current.front() == std::make_pair(' ', false)) {
      current.erase(current.begin());
    }
    while (!current.empty() && current.back() == std::make_pair(' ', false)) current.pop_back();
    std::string pattern;
    for (const auto& [c, q] : current) pattern += c;
    if (!pattern.empty()) (excluding ? exclude : include).push_back(pattern);
    current.clear();
  };
  for (const char c : mask) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == ',' || c == ';' || c == '|')) {
      finish();
      excluding = excluding || c == '|';
    } else {
      current.emplace_back(c, quoted);
    }
  }
  finish();
  bool included = include.empty();
  for (const std::string& p : include) included = included || ModelOne(p, name);
  if (!included) return false;
  for (const std::string& p : exclude) {
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

  const bool utf8 = ModelUtf8(mask) && ModelUtf8(subject);
  Require(marlit::console::IsUtf8(mask) == ModelUtf8(mask), "UTF-8 is told as the model tells it");
  Require(marlit::console::MatchPattern(mask, subject) == ModelPattern(mask, subject, utf8),
          "a pattern matches as the model does");
  std::string_view leaf = name;
  if (skipPath != 0) {
    const size_t slash = leaf.find_last_of('/');
    if (slash != std::string_view::npos) leaf.remove_prefix(slash + 1);
  }
  const int matched = marlit::console::ConsoleCmpName(mask.c_str(), name.c_str(), skipPath);
  Require(matched == (ModelOne(mask, leaf) ? 1 : 0), "one pattern matches as the model does");
  // The plug-in's list reader over the host's matching of one pattern; a
  // dialog field holds 511 characters of a mask.
  const std::string_view field = std::string_view(mask).substr(0, marlit::kDialogTextSize - 1);
  auto list = std::make_unique<marlit::MaskList>();
  marlit::ReadMaskList(field, *list);
  // The pass asks with skip-path on: the name's directory part drops out.
  std::string_view own = name;
  if (const size_t slash = own.find_last_of('/'); slash != std::string_view::npos) {
    own.remove_prefix(slash + 1);
  }
  Require(marlit::MaskMatches(*list, marlit::console::ConsoleCmpName, name.c_str()) ==
              (field.find_first_of(",;|\"") == std::string_view::npos ? ModelOne(field, own)
                                                                      : ModelMask(field, own)),
          "a mask list matches as the model does");
  return 0;
}
