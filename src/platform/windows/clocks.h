#pragma once

#include <cstdint>

namespace ostrivan::windows {

// FILETIME's 100 ns intervals since 1601-01-01 00:00 UTC, as Unix seconds (rounded down).
std::int64_t FileTimeToUnixSeconds(std::uint64_t fileTime);

// Milliseconds since 1970-01-01 00:00 UTC on the wall clock: the one clock the service
// writes its times by and its readers judge them by.
std::int64_t UtcMilliseconds();

} // namespace ostrivan::windows
