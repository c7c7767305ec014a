// File times: 64-bit counts of 100 ns since 1601-01-01 00:00 UTC, as the
// zip item records carry them, and their conversions.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

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
