#pragma once

#include "platform/process_api.h"
#include "platform/status_platform.h"
#include "process/process_snapshot.h"
#include "status/status_report.h"
#include "status/status_tally.h"
#include "supervisor/supervisor_state.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrivan {

// What the service knows of itself when it writes its status.
struct ServiceFacts {
    std::string state;
    std::int64_t startedUtc = 0;
    std::optional<std::int64_t> runningSinceUtc;
    std::optional<std::int64_t> lastSweepUtc;
    std::int64_t intervalSeconds = 0;
};

// The status from the supervisor's state, the tally and one snapshot of the process table;
// each suite program found there is asked for its start time and working set.
StatusReport CollectStatus(const ServiceFacts& facts, const SupervisorState& state,
                           const std::vector<ProcessEntry>& snapshot, const StatusTally& tally,
                           ProcessApi& api, StatusPlatform& platform);

} // namespace ostrivan
