// Conversions between the two time scales; the same arithmetic everywhere.
#include "platform/clock.h"

namespace platform {

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600;

}  // namespace

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

}  // namespace platform
