#pragma once

#include "process/process_identity.h"
#include "process/process_snapshot.h"
#include "supervisor/check_clock.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ostrivan {

// One tracked check program.
struct CheckRecord {
    std::string Name;         // normalized image name
    ClockReading FirstSeen;   // what its age is measured from
    std::int16_t Overdue = 0; // -1 once marked

    // The first sighting in seconds since 1970-01-01 00:00 UTC, as records and status show it.
    std::int64_t FirstSeenUtc() const { return UtcSeconds(FirstSeen.utcMilliseconds); }
};

// The supervisor state the form owns for the life of the process.
struct SupervisorState {
    bool IsStopping = false;
    // Row 0 is a placeholder that is never read; rows 1 and up are tracked programs.
    std::vector<CheckRecord> CheckTable{CheckRecord{}};
    // Short-lived tools seen by the last sweep, to be terminated by the next one.
    std::vector<ProcessIdentity> PendingKills;
    // The manager this service launched last; id 0 when none yet.
    ProcessIdentity ManagerPid;
    // The process table as the last sweep's scan saw it, for the status file.
    std::vector<ProcessEntry> LastScan;
};

} // namespace ostrivan
