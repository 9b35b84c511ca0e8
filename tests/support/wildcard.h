// A small stand-in for the host's name matching in engine tests: '*' and '?'
// without case, "*.*" matching every name, the directory part skipped.
#pragma once

#include <atomic>

#include "host/records.h"

namespace marlit::test {

int MARLIT_WINAPI TestCmpName(const char* pattern, const char* name, int skipPath);

// Counts the calls, for tests that check the mask is asked (or not).
extern std::atomic<int> g_cmpNameCalls;

}  // namespace marlit::test
