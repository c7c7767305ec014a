#include "platform/clock.h"

#include <cerrno>
#include <climits>
#include <ctime>

#include "platform/text.h"

namespace platform {

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

}  // namespace

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

bool DosDateTimeToFileTime(std::uint16_t date, std::uint16_t time, FileTime& ft) {
  const int day = date & 0x1F;
  const int month = (date >> 5) & 0x0F;
  const int year = 1980 + (date >> 9);
  const int second = (time & 0x1F) * 2;
  const int minute = (time >> 5) & 0x3F;
  const int hour = time >> 11;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  std::int64_t t = 0;
  if (!UtcTime(year, month, day, hour, minute, second, t)) return false;
  ft = (t + kEpochDifference) * kTicksPerSecond;
  return true;
}

FileTime CurrentFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return (ts.tv_sec + kEpochDifference) * kTicksPerSecond + ts.tv_nsec / 100;
}

std::string FormatFileTimeUtc(FileTime ft) {
  const time_t t = static_cast<time_t>(FileTimeToUnixTime(ft));
  tm parts{};
  if (gmtime_r(&t, &parts) == nullptr) return "(time out of range)";
  return Format("%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                parts.tm_hour, parts.tm_min, parts.tm_sec);
}

}  // namespace platform
