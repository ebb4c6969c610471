#pragma once

#include "platform/action_log.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace ostrivan {

// The snake-case name of a reason, as the status file and the metrics write it.
std::string ReasonKey(ActionReason reason);

// Counts what the supervision code records, then hands each record on to the platform's
// log unchanged.
class StatusTally final : public ActionLog {
public:
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
    std::uint64_t relaunches_ = 0;
    std::uint64_t askedToEnd_ = 0;
    std::uint64_t endedWhenAsked_ = 0;
    std::optional<std::string> lastReason_;
    std::optional<std::int64_t> lastRelaunchUtc_;
    std::map<std::string, ProcessId> launched_;
};

} // namespace ostrivan
