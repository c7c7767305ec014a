// Calendar times as signed 64-bit seconds since 1970-01-01 00:00 UTC.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

// Seconds since 1970 now.
std::int64_t CurrentTime();

// The UTC calendar time year-month-day hour:minute:second (month 1 to 12)
// as seconds since 1970. Fields past their range roll over as in mktime
// (February 30th is March 2nd). FALSE when the time cannot be represented.
BOOL UtcTime(int year, int month, int day, int hour, int minute, int second, std::int64_t& t);

}  // namespace platform
