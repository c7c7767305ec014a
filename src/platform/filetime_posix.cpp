#include "platform/filetime.h"

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

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

bool DosDateTimeToFileTime(std::uint16_t date, std::uint16_t time, FileTime& ft) {
  const int day = date & 0x1F;
  const int month = (date >> 5) & 0x0F;
  const int year = 1980 + (date >> 9);
  const int second = (time & 0x1F) * 2;
  const int minute = (time >> 5) & 0x3F;
  const int hour = time >> 11;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  const std::int64_t t = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  ft = (t + kEpochDifference) * kTicksPerSecond;
  return true;
}

bool UnixTimeToFileTime(std::int64_t t, FileTime& ft) {
  if (t < 0) return false;
  ft = (t + kEpochDifference) * kTicksPerSecond;
  return true;
}

std::int64_t FileTimeToUnixTime(FileTime ft) {
  std::int64_t s = ft / kTicksPerSecond;
  if (ft % kTicksPerSecond < 0) --s;
  return s - kEpochDifference;
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
