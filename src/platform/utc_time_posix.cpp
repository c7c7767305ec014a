#include "platform/utc_time.h"

#include <cerrno>
#include <climits>
#include <ctime>

namespace platform {

std::int64_t CurrentTime() { return static_cast<std::int64_t>(std::time(nullptr)); }

BOOL UtcTime(int year, int month, int day, int hour, int minute, int second, std::int64_t& t) {
  if (year < INT_MIN + 1900) return FALSE;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  errno = 0;
  time_t value = timegm(&tm);
  // -1 is also 1969-12-31 23:59:59; only errno tells the two apart.
  if (value == static_cast<time_t>(-1) && errno != 0) return FALSE;
  t = static_cast<std::int64_t>(value);
  return TRUE;
}

}  // namespace platform
