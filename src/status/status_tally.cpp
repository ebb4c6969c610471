#include "status/status_tally.h"

#include <array>
#include <exception>

namespace ostrivan {
namespace {

constexpr std::array kTerminationReasons = {
    ActionReason::ShortLivedTool, ActionReason::OverdueCheck, ActionReason::StartupList,
    ActionReason::ShutdownList, ActionReason::ManagerOverCeiling};

bool IsRelaunch(ActionReason reason) {
    return reason == ActionReason::ManagerEnded || reason == ActionReason::ManagerOverCeiling;
}

} // namespace

const char* ReasonName(ActionReason reason) {
    switch (reason) {
    case ActionReason::StartUp:
        return "start_up";
    case ActionReason::ManagerFirstLaunch:
        return "manager_first_launch";
    case ActionReason::ManagerEnded:
        return "manager_ended";
    case ActionReason::ManagerOverCeiling:
        return "manager_over_ceiling";
    case ActionReason::ShortLivedTool:
        return "short_lived_tool";
    case ActionReason::OverdueCheck:
        return "overdue_check";
    case ActionReason::StartupList:
        return "startup_list";
    case ActionReason::ShutdownList:
        return "shutdown_list";
    }
    return "unknown";
}

StatusTally::StatusTally(ActionLog& next, std::function<std::int64_t()> utcNow)
    : next_(next), utcNow_(std::move(utcNow)) {
    for (const auto reason : kTerminationReasons) {
        terminations_[ReasonName(reason)] = 0;
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
        ++terminations_[ReasonName(record.reason)];
    }
    if (record.action != Action::Launched) {
        return;
    }
    launched_[record.program] = record.pid;
    if (IsRelaunch(record.reason)) {
        ++relaunches_;
        lastReason_ = ReasonName(record.reason);
        lastRelaunchUtc_ = utcNow_();
    }
}

} // namespace ostrivan
