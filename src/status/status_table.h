#pragma once

#include "status/status_reading.h"

#include <string>

namespace ostrivan {

// LSB status exit codes.
inline constexpr int kStatusRunning = 0;
inline constexpr int kStatusNotRunning = 3;
inline constexpr int kStatusUnknown = 4;

struct StatusTable {
    int code = kStatusUnknown;
    std::string text; // lines ending in "\n"
};

StatusTable FormatStatusTable(const StatusReading& reading);

} // namespace ostrivan
