#pragma once

#include "platform/failure.h"
#include "platform/process_api.h"
#include "platform/status_platform.h"
#include "process/process_snapshot.h"
#include "status/status_collect.h"
#include "status/status_tally.h"
#include "supervisor/supervisor_state.h"

#include <optional>
#include <string>
#include <vector>

namespace ostrivan {

// Rewrites the status file and the metrics beside it. A failure to write comes back once,
// for the error report; the next ones stay quiet until a write succeeds again.
class StatusPublisher {
public:
    StatusPublisher(ProcessApi& api, StatusPlatform& platform, const StatusTally& tally,
                    std::int64_t intervalSeconds);

    // After a change of the service's state; looks at the process table itself.
    std::optional<Failure> Publish(const std::string& serviceState, const SupervisorState& state);
    // After a sweep, in the state last published, from the snapshot that sweep took; one
    // of its own when the sweep took none.
    std::optional<Failure> PublishSweep(const SupervisorState& state,
                                        const std::optional<std::vector<ProcessEntry>>& snapshot);

private:
    template <class Snapshot>
    std::optional<Failure> Write(const SupervisorState& state, Snapshot&& snapshot);
    std::optional<Failure> Failed(const Failure& failure);

    ProcessApi& api_;
    StatusPlatform& platform_;
    const StatusTally& tally_;
    ServiceFacts facts_;
    bool failing_ = false;
};

} // namespace ostrivan
