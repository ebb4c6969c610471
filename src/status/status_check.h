#pragma once

#include "status/status_reading.h"

#include <string>

namespace ostrivan {

// Monitoring-plugin exit codes.
inline constexpr int kCheckOk = 0;
inline constexpr int kCheckWarning = 1;
inline constexpr int kCheckCritical = 2;
inline constexpr int kCheckUnknown = 3;

struct CheckResult {
    int code = kCheckUnknown;
    std::string line; // "OSTRIVAN <STATE> - <summary> | <performance data>"
};

CheckResult EvaluateCheck(const StatusReading& reading);
// What cannot be judged: "OSTRIVAN UNKNOWN - <reason>", without performance data.
CheckResult UnknownCheck(const std::string& reason);

} // namespace ostrivan
