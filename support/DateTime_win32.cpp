#include <windows.h>

#include <cstdint>

#include "support/LocalClock.h"

namespace qvu {

bool LocalTimeOf(std::time_t t, std::tm& out) { return localtime_s(&out, &t) == 0; }

void WallClock(std::time_t& seconds, int& milliseconds) {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  // 100 ns steps since 1601.
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const uint64_t unixTicks = ticks - 116444736000000000ULL;
  seconds = static_cast<std::time_t>(unixTicks / 10000000);
  milliseconds = static_cast<int>(unixTicks % 10000000 / 10000);
}

}  // namespace qvu
