#pragma once

#include "platform/status_platform.h"
#include "process/process_snapshot.h"
#include "status/status_report.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ostrivan {

// What a reader of the status sees: the file, the service manager's view and the process
// table now, which tells whether the processes the file names still run. Any account may
// read: where it cannot read a process's creation time, the table's name for the pid
// stands in, which for another account's process may be cut to the kernel's 15 characters.
struct StatusReading {
    std::string path;
    std::optional<StatusReport> report; // nothing when the file cannot be read or parsed
    std::string problem;                // why there is no report
    ServiceManagerView service;
    std::vector<ProcessEntry> processes;
    // Creation times now of the processes the file names, where this account can read them.
    std::map<ProcessId, std::uint64_t> creationTimes;
    std::int64_t utcNow = 0;
};

bool ServiceRuns(const StatusReading& reading);
bool ServicePaused(const StatusReading& reading);
// True while the program's pid still names the process the file recorded.
bool StillRuns(const StatusReading& reading, const ProgramStatus& program);
// Now, or the file's own time when that is later (a clock set back, a faster clock).
std::int64_t ReferenceTime(const StatusReading& reading);
// Seconds since the last sweep, or since the start when none ran yet.
std::int64_t SweepAge(const StatusReading& reading);
// Seconds without a sweep that one was due in: since the last sweep, or since the service
// last became running when that is later (no sweep is due during a pause).
std::int64_t SweepWait(const StatusReading& reading);

} // namespace ostrivan
