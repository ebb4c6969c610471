#pragma once

#include "platform/action_log.h"
#include "status/status_report.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace ostrivan {

// Counts what the supervision code records, then hands each record on to the platform's
// log unchanged.
class StatusTally final : public ActionLog {
public:
    // `utcNow`: StatusPlatform::UtcNow, in milliseconds.
    StatusTally(ActionLog& next, std::function<std::int64_t()> utcNow);

    void Record(const ActionRecord& record) noexcept override;
    void SweepEnded(const std::vector<ActionRecord>& terminations) noexcept override {
        next_.SweepEnded(terminations);
    }
    void StopEnded(const std::vector<ActionRecord>& records) noexcept override {
        next_.StopEnded(records);
    }

    // Every reason a termination can have, counted from 0.
    const std::map<std::string, std::uint64_t>& Terminations() const { return terminations_; }
    // Terminations the platform refused, by the same reasons, and the last of them.
    const std::map<std::string, std::uint64_t>& Refusals() const { return refusals_; }
    const std::optional<RefusedTermination>& LastRefusal() const { return lastRefusal_; }
    std::uint64_t ManagerRelaunches() const { return relaunches_; }
    // Programs asked to end at a stop, and those of them that ended within the grace period.
    std::uint64_t AskedToEnd() const { return askedToEnd_; }
    std::uint64_t EndedWhenAsked() const { return endedWhenAsked_; }
    const std::optional<std::string>& LastRelaunchReason() const { return lastReason_; }
    const std::optional<std::int64_t>& LastRelaunchUtc() const { return lastRelaunchUtc_; }
    // The process the service launched last under a program's file name; 0 when none.
    ProcessId LaunchedPid(const std::string& program) const;

private:
    void Count(const ActionRecord& record);

    ActionLog& next_;
    std::function<std::int64_t()> utcNow_;
    std::map<std::string, std::uint64_t> terminations_;
    std::map<std::string, std::uint64_t> refusals_;
    std::optional<RefusedTermination> lastRefusal_;
    std::uint64_t relaunches_ = 0;
    std::uint64_t askedToEnd_ = 0;
    std::uint64_t endedWhenAsked_ = 0;
    std::optional<std::string> lastReason_;
    std::optional<std::int64_t> lastRelaunchUtc_;
    std::map<std::string, ProcessId> launched_;
};

} // namespace ostrivan
