// The platform's clock and time zone, from which DateTime builds its values.
#pragma once

#include <ctime>

namespace qvu {

// `t` as local calendar time; false when the platform cannot convert it.
bool LocalTimeOf(std::time_t t, std::tm& out);
// The present as seconds since 1970 and the milliseconds of the current second.
void WallClock(std::time_t& seconds, int& milliseconds);

}  // namespace qvu
