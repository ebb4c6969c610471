#pragma once

#include <cstdint>

namespace ostrivan::posix {

// Milliseconds since 1970-01-01 00:00 UTC on the wall clock: the one clock the service
// writes its times by and its readers judge them by.
std::int64_t UtcMilliseconds();

// Milliseconds since the boot, time suspended included: a clock that nothing sets.
std::int64_t BootMilliseconds();

} // namespace ostrivan::posix
