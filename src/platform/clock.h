// Times. Calendar times are signed 64-bit seconds since 1970-01-01 00:00
// UTC; file times, as zip items carry them, are 64-bit counts of 100 ns
// since 1601-01-01 00:00 UTC.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

// Seconds since 1970 now.
std::int64_t CurrentTime();

// The UTC calendar time year-month-day hour:minute:second (month 1 to 12)
// as seconds since 1970. Fields past their range roll over as in mktime
// (February 30th is March 2nd). FALSE when the time cannot be represented.
BOOL UtcTime(int year, int month, int day, int hour, int minute, int second, std::int64_t& t);

using FileTime = std::int64_t;

// An MS-DOS date and time (two 16-bit fields) as they stand, read as UTC.
// False when a field is out of range (month 0, 30 February, hour 24 ...).
bool DosDateTimeToFileTime(std::uint16_t date, std::uint16_t time, FileTime& ft);

// Seconds since 1970-01-01 UTC. False for a negative value, which the
// 32-bit UTC conversion of the original platform refuses.
bool UnixTimeToFileTime(std::int64_t t, FileTime& ft);

// Whole seconds since 1970-01-01 UTC (rounded down).
std::int64_t FileTimeToUnixTime(FileTime ft);

FileTime CurrentFileTime();

// "YYYY-MM-DD HH:MM:SS" in UTC.
std::string FormatFileTimeUtc(FileTime ft);

}  // namespace platform
