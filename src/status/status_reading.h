#pragma once

#include "platform/status_platform.h"
#include "process/process_snapshot.h"
#include "status/status_report.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrivan {

// What a reader of the status sees: the file, the service manager's view and the process
// table now, which tells whether the processes the file names still run.
struct StatusReading {
    std::string path;
    std::optional<StatusReport> report; // nothing when the file cannot be read or parsed
    ServiceManagerView service;
    std::vector<ProcessEntry> processes;
    std::int64_t utcNow = 0;
};

bool ServiceRuns(const StatusReading& reading);
bool ServicePaused(const StatusReading& reading);
// True when the program's process still carries its pid and name.
bool StillRuns(const StatusReading& reading, const ProgramStatus& program);
// Now, or the file's own time when that is later (a clock set back, a faster clock).
std::int64_t ReferenceTime(const StatusReading& reading);
// Seconds since the last sweep, or since the start when none ran yet.
std::int64_t SweepAge(const StatusReading& reading);

} // namespace ostrivan
