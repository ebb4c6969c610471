#include "status/status_publisher.h"

#include "status/status_json.h"
#include "status/status_metrics.h"
#include "supervisor/check_clock.h"

#include <new>

namespace ostrivan {

StatusPublisher::StatusPublisher(ProcessApi& api, StatusPlatform& platform,
                                 const StatusTally& tally, std::int64_t intervalSeconds)
    : api_(api), platform_(platform), tally_(tally) {
    facts_.state = kStateStarting;
    facts_.startedUtc = UtcSeconds(platform_.UtcNow());
    facts_.intervalSeconds = intervalSeconds;
}

std::optional<Failure> StatusPublisher::Publish(const std::string& serviceState,
                                                const SupervisorState& state) {
    if (serviceState == kStateRunning && facts_.state != kStateRunning) {
        // Sweeps are due an interval from here on, not from before a pause.
        facts_.runningSinceUtc = UtcSeconds(platform_.UtcNow());
    }
    facts_.state = serviceState;
    return Write(state, [this] { return TakeProcessSnapshot(api_); });
}

std::optional<Failure>
StatusPublisher::PublishSweep(const SupervisorState& state,
                              const std::optional<std::vector<ProcessEntry>>& snapshot) {
    facts_.lastSweepUtc = UtcSeconds(platform_.UtcNow());
    if (!snapshot) {
        return Write(state, [this] { return TakeProcessSnapshot(api_); });
    }
    return Write(state, [&snapshot]() -> const std::vector<ProcessEntry>& { return *snapshot; });
}

// `snapshot` is asked only where a status folder is kept.
template <class Snapshot>
std::optional<Failure> StatusPublisher::Write(const SupervisorState& state, Snapshot&& snapshot) {
    try {
        if (!platform_.HasStatusFolder()) {
            return std::nullopt;
        }
        const StatusReport report =
            CollectStatus(facts_, state, snapshot(), tally_, api_, platform_);
        platform_.Publish(StatusJson(report), StatusMetrics(report));
        failing_ = false;
        return std::nullopt;
    } catch (const Failure& failure) {
        return Failed(failure);
    } catch (const std::bad_alloc&) {
        return Failed(OutOfMemoryFailure());
    }
}

std::optional<Failure> StatusPublisher::Failed(const Failure& failure) {
    if (failing_) {
        return std::nullopt;
    }
    failing_ = true;
    return failure;
}

} // namespace ostrivan
