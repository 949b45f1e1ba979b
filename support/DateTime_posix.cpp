#include <time.h>

#include "support/LocalClock.h"

namespace qvu {

bool LocalTimeOf(std::time_t t, std::tm& out) { return localtime_r(&t, &out) != nullptr; }

void WallClock(std::time_t& seconds, int& milliseconds) {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  seconds = ts.tv_sec;
  milliseconds = static_cast<int>(ts.tv_nsec / 1000000);
}

}  // namespace qvu
