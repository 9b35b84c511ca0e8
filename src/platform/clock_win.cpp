// Windows time services: kernel32's own conversions behind marlit's time
// interface. This file is used on Windows only.
#include <windows.h>

#include <cstring>

#include "platform/calendar.h"
#include "platform/clock.h"

namespace marlit {
namespace {

static_assert(sizeof(::SYSTEMTIME) == sizeof(SYSTEMTIME));
static_assert(sizeof(::FILETIME) == sizeof(FILETIME));

template <typename To, typename From>
To Same(const From& from) {
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}

bool WinFileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  const ::FILETIME in = Same<::FILETIME>(*utc);
  ::FILETIME out{};
  const bool ok = ::FileTimeToLocalFileTime(&in, &out) != FALSE;
  *local = Same<FILETIME>(out);
  return ok;
}

bool WinFileTimeToSystemTime(const FILETIME* stamp, SYSTEMTIME* fields) {
  const ::FILETIME in = Same<::FILETIME>(*stamp);
  ::SYSTEMTIME out{};
  if (!::FileTimeToSystemTime(&in, &out)) return false;
  *fields = Same<SYSTEMTIME>(out);
  return true;
}

// Windows refuses 29 February of a common year and years after 30827; Wine
// takes both, so the fields are checked here to behave as Windows does.
bool WinSystemTimeToFileTime(const SYSTEMTIME* fields, FILETIME* stamp) {
  if (!IsStampable(*fields)) return false;
  const ::SYSTEMTIME in = Same<::SYSTEMTIME>(*fields);
  ::FILETIME out{};
  if (!::SystemTimeToFileTime(&in, &out)) return false;
  *stamp = Same<FILETIME>(out);
  return true;
}

void WinGetLocalTime(SYSTEMTIME* now) {
  ::SYSTEMTIME out{};
  ::GetLocalTime(&out);
  *now = Same<SYSTEMTIME>(out);
}

}  // namespace

const TimeServices kSystemTime = {WinFileTimeToLocalFileTime, WinFileTimeToSystemTime,
                                  WinSystemTimeToFileTime, WinGetLocalTime};

}  // namespace marlit
