#include "status/status_tally.h"

#include "platform/action_text.h"
#include "supervisor/check_clock.h"

#include <array>
#include <exception>

namespace ostrivan {
namespace {

constexpr std::array kTerminationReasons = {
    ActionReason::ShortLivedTool, ActionReason::OverdueCheck, ActionReason::StartupList,
    ActionReason::ShutdownList, ActionReason::ManagerOverCeiling};

} // namespace

StatusTally::StatusTally(ActionLog& next, std::function<std::int64_t()> utcNow)
    : next_(next), utcNow_(std::move(utcNow)) {
    for (const auto reason : kTerminationReasons) {
        terminations_[std::string(ReasonName(reason))] = 0;
        refusals_[std::string(ReasonName(reason))] = 0;
    }
}

ProcessId StatusTally::LaunchedPid(const std::string& program) const {
    const auto found = launched_.find(program);
    return found == launched_.end() ? 0 : found->second;
}

void StatusTally::Record(const ActionRecord& record) noexcept {
    // A count that cannot be kept is lost; the record still reaches the platform's log.
    try {
        Count(record);
    } catch (const std::exception&) {
    }
    next_.Record(record);
}

void StatusTally::Count(const ActionRecord& record) {
    if (record.action == Action::Terminated) {
        ++terminations_[std::string(ReasonName(record.reason))];
    }
    if (record.action == Action::TerminationRefused) {
        ++refusals_[std::string(ReasonName(record.reason))];
        lastRefusal_ =
            RefusedTermination{UtcSeconds(utcNow_()), std::string(ReasonName(record.reason)),
                               record.program, record.pid};
    }
    askedToEnd_ += record.action == Action::AskedToEnd ? 1 : 0;
    endedWhenAsked_ += record.action == Action::EndedWhenAsked ? 1 : 0;
    if (record.action != Action::Launched) {
        return;
    }
    launched_[record.program] = record.pid;
    if (IsRelaunch(record)) {
        ++relaunches_;
        lastReason_ = std::string(ReasonName(record.reason));
        lastRelaunchUtc_ = UtcSeconds(utcNow_());
    }
}

} // namespace ostrivan
