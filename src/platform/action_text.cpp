#include "platform/action_text.h"

#include "platform/stop_timing.h"

#include <cstdint>
#include <ctime>

namespace ostrivan {
namespace {

constexpr std::uint64_t kMebibyte = 1024 * 1024;

// Rounded up, so that a working set just over the ceiling never reads as the ceiling.
std::string Mebibytes(std::uint64_t bytes) {
    return std::to_string((bytes + kMebibyte - 1) / kMebibyte) + " MiB";
}

std::string UtcText(std::int64_t seconds) {
    const auto time = static_cast<std::time_t>(seconds);
    const std::tm* fields = std::gmtime(&time);
    char text[32] = "";
    if (fields == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", fields) == 0) {
        return std::to_string(seconds) + " s after 1970";
    }
    return text;
}

std::string Subject(const ActionRecord& record) {
    return (record.program.empty() ? std::string("a process") : record.program) + " (pid " +
           std::to_string(record.pid);
}

} // namespace

std::string_view ReasonName(ActionReason reason) {
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
    case ActionReason::StopRequest:
        return "stop_request";
    }
    return "unknown";
}

std::string ReasonText(const ActionRecord& record) {
    switch (record.reason) {
    case ActionReason::StartUp:
        return "start-up sequence";
    case ActionReason::ManagerFirstLaunch:
        return "first launch of the manager";
    case ActionReason::ManagerEnded:
        if (!record.exitSignal.empty()) {
            return "the manager had ended, signal " + record.exitSignal;
        }
        return record.exitCodeKnown
                   ? "the manager had ended with exit code " + std::to_string(record.exitCode)
                   : std::string("the manager had ended, its exit code unknown");
    case ActionReason::ManagerOverCeiling:
        return "the manager's working set, " + Mebibytes(record.workingSet) +
               ", was over the ceiling";
    case ActionReason::ShortLivedTool:
        return "short-lived tool seen by the last sweep";
    case ActionReason::OverdueCheck:
        return "check program overdue, first seen " + UtcText(record.firstSeenUtc);
    case ActionReason::StartupList:
        return "stale side program, ended by the start-up sequence";
    case ActionReason::ShutdownList:
        return "the service is stopping";
    case ActionReason::StopRequest:
        return "the service is stopping and gives the suite " +
               std::to_string(kStopGraceMs / 1000) + " s to end";
    }
    return "unknown reason";
}

std::string ActionText(const ActionRecord& record) {
    const std::string reason = ReasonText(record);
    switch (record.action) {
    case Action::Launched:
        return "launched " + record.program +
               (record.arguments.empty() ? "" : " " + record.arguments) + " (pid " +
               std::to_string(record.pid) + "): " + reason;
    case Action::Terminated:
        return "terminated " + Subject(record) + ", exit code " + std::to_string(record.exitCode) +
               "): " + reason;
    case Action::TerminationRefused:
        return "could not terminate " + Subject(record) + "): " + reason;
    case Action::AlreadyGone:
        return Subject(record) + ") had already ended: " + reason;
    case Action::AskedToEnd:
        return "asked " + Subject(record) + ") to end: " + reason;
    case Action::EndedWhenAsked:
        return Subject(record) + ") ended when asked: " + reason;
    }
    return Subject(record) + "): " + reason;
}

} // namespace ostrivan
