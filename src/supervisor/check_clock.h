#pragma once

#include <cstdint>

namespace ostrivan {

// One moment on the two clocks a check program's age is measured with.
struct ClockReading {
    std::int64_t utcMilliseconds = 0;       // since 1970-01-01 00:00 UTC
    std::int64_t monotonicMilliseconds = 0; // from an arbitrary start
};

// Minute boundaries passed since `first`: those between first's UTC time and that time plus
// the monotonic time elapsed since. Daylight saving does not move UTC, and setting the
// wall clock does not move the monotonic one, so neither changes the count.
std::int64_t MinuteDifference(const ClockReading& first, std::int64_t monotonicNow);

// Whole seconds since 1970-01-01 00:00 UTC.
std::int64_t UtcSeconds(std::int64_t utcMilliseconds);

} // namespace ostrivan
