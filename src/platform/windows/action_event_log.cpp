#include "platform/windows/action_event_log.h"

#include "platform/action_text.h"

#include <exception>

namespace ostrivan::windows {

std::string ShortLivedToolsText(const std::vector<std::pair<std::string, std::size_t>>& tools) {
    std::size_t total = 0;
    std::string names;
    for (const auto& [name, count] : tools) {
        total += count;
        names += (names.empty() ? "" : ", ") + name + " (" + std::to_string(count) + ")";
    }
    return "Ended " + std::to_string(total) + " short-lived tool" + (total == 1 ? "" : "s") + ": " +
           names;
}

void WindowsActionLog::Record(const ActionRecord& record) noexcept {
    try {
        stop_.Add(record);
        if (record.action == Action::TerminationRefused) {
            eventLog_.Write(kEventKindWarning, kEventTerminationRefused, ActionText(record));
        } else if (IsRelaunch(record)) {
            eventLog_.Write(kEventKindInformation, kEventManagerRelaunched, ActionText(record));
        } else if (record.action == Action::Terminated &&
                   record.reason == ActionReason::OverdueCheck) {
            eventLog_.Write(kEventKindInformation, kEventOverdueCheckEnded, ActionText(record));
        } else if (record.action == Action::Terminated &&
                   record.reason == ActionReason::ShortLivedTool) {
            for (auto& [name, count] : tools_) {
                if (name == record.program) {
                    ++count;
                    return;
                }
            }
            tools_.emplace_back(record.program, 1);
        }
    } catch (const std::exception&) {
        // A record that cannot be written is lost; the supervision goes on.
    }
}

void WindowsActionLog::SweepEnded() noexcept {
    try {
        if (!tools_.empty()) {
            eventLog_.Write(kEventKindInformation, kEventShortLivedTools,
                            ShortLivedToolsText(tools_));
        }
    } catch (const std::exception&) {
    }
    tools_.clear();
}

void WindowsActionLog::StopEnded() noexcept {
    try {
        eventLog_.Write(kEventKindInformation, kEventStopSummary, stop_.Text());
    } catch (const std::exception&) {
    }
    stop_.Clear();
}

} // namespace ostrivan::windows
