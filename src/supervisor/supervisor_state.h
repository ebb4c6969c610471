#pragma once

#include "platform/action_log.h"
#include "process/process_identity.h"
#include "process/process_snapshot.h"
#include "supervisor/check_clock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrivan {

// One tracked run of a check program. Each run is timed on its own: one check program runs
// for many targets side by side, and a young run must not share an old one's first sighting.
struct CheckRecord {
    std::string Name;         // normalized image name
    ClockReading FirstSeen;   // what its age is measured from
    std::int16_t Overdue = 0; // -1 once marked
    ProcessIdentity Process;  // the run: its id with its creation time

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
};

// What one sweep did, handed back to whoever ran it: the records and the status file are
// written from it.
struct SweepOutcome {
    // The process table as the scan saw it; nothing when the scan took no snapshot.
    std::optional<std::vector<ProcessEntry>> snapshot;
    // The terminations of pending tools and overdue checks, as recorded.
    std::vector<ActionRecord> terminations;
};

} // namespace ostrivan
