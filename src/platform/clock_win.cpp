#include "platform/clock.h"

#include <climits>
#include <ctime>

#include "platform/text.h"
#include "platform/windows_api.h"

namespace platform {

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to the first of month (1 to 12) of year, in the
// proleptic Gregorian calendar, for any year.
std::int64_t DaysFromCivil(std::int64_t year, int month) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The date of a day counted from 1970-01-01; the year.
std::int64_t CivilFromDays(std::int64_t days, int& month, int& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return yearOfEra + era * 400 + (month <= 2);
}

FileTime FromSystemFileTime(const FILETIME& ft) {
  return static_cast<FileTime>(static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime);
}

}  // namespace

std::int64_t CurrentTime() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The C run time's _mkgmtime64 stops at 1970 and at 3000, and
// SystemTimeToFileTime takes no field past its range: the arithmetic is
// timegm's own instead, so that both builds give one answer.
BOOL UtcTime(int year, int month, int day, int hour, int minute, int second, std::int64_t& t) {
  if (year < INT_MIN + 1900) return FALSE;  // struct tm could not hold it either
  std::int64_t y = year;
  std::int64_t m = static_cast<std::int64_t>(month) - 1;
  y += m / 12;
  m %= 12;
  if (m < 0) {
    m += 12;
    --y;
  }
  const std::int64_t days = DaysFromCivil(y, static_cast<int>(m) + 1) + day - 1;
  t = days * kSecondsPerDay + static_cast<std::int64_t>(hour) * 3600 + static_cast<std::int64_t>(minute) * 60 + second;
  return TRUE;
}

bool DosDateTimeToFileTime(std::uint16_t date, std::uint16_t time, FileTime& ft) {
  // The system's conversion refuses a field out of range (month 0,
  // 30 February, hour 24, second 60) as the other build does.
  FILETIME converted;
  if (!::DosDateTimeToFileTime(date, time, &converted)) return false;
  ft = FromSystemFileTime(converted);
  return true;
}

FileTime CurrentFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FromSystemFileTime(now);
}

std::string FormatFileTimeUtc(FileTime ft) {
  // FileTimeToSystemTime would refuse a time before 1601: the same
  // arithmetic as gmtime's instead.
  const std::int64_t t = FileTimeToUnixTime(ft);
  std::int64_t days = t / kSecondsPerDay;
  std::int64_t seconds = t % kSecondsPerDay;
  if (seconds < 0) {
    seconds += kSecondsPerDay;
    --days;
  }
  int month = 0, day = 0;
  const std::int64_t year = CivilFromDays(days, month, day);
  return Format("%04lld-%02d-%02d %02d:%02d:%02d", static_cast<long long>(year), month, day,
                static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
}

}  // namespace platform
