#pragma once

#include "platform/form_runtime.h"

#include <cstdint>

namespace ostrivan {

// Local date-time as an OLE Automation date: days since 1899-12-30, the fraction being
// the time of day.
double ToOleDate(const LocalDateTime& time);

// Whole milliseconds since 1899-12-30 00:00 of an OLE Automation date.
std::int64_t OleDateMilliseconds(double oleDate);

// Seconds since 1970-01-01 00:00 UTC of an OLE Automation date on the local clock, by the
// time zone in force now.
std::int64_t LocalOleDateToUtcSeconds(double oleDate);

// Minute boundaries of the local clock passed from `from` to `to`: `to` cut to its whole
// minute minus `from` cut to its whole minute; negative when `to` is earlier.
std::int64_t MinuteDifference(double from, double to);

} // namespace ostrivan
