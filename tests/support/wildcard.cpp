#include "support/wildcard.h"

#include <cctype>
#include <cstring>

namespace marlit::test {

std::atomic<int> g_cmpNameCalls{0};

namespace {

bool Match(const char* p, const char* s) {
  for (; *p != '\0'; ++p, ++s) {
    if (*p == '*') {
      for (const char* rest = s;; ++rest) {
        if (Match(p + 1, rest)) return true;
        if (*rest == '\0') return false;
      }
    }
    if (*s == '\0') return false;
    if (*p != '?' && std::tolower(static_cast<unsigned char>(*p)) !=
                         std::tolower(static_cast<unsigned char>(*s))) {
      return false;
    }
  }
  return *s == '\0';
}

}  // namespace

int MARLIT_WINAPI TestCmpName(const char* pattern, const char* name, int skipPath) {
  ++g_cmpNameCalls;
  if (skipPath) {
    if (const char* slash = std::strrchr(name, '\\')) name = slash + 1;
  }
  if (std::strcmp(pattern, "*.*") == 0) return 1;
  return Match(pattern, name) ? 1 : 0;
}

}  // namespace marlit::test
