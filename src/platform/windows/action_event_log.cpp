#include "platform/windows/action_event_log.h"

#include "platform/action_text.h"

#include <algorithm>
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
        if (record.action == Action::TerminationRefused) {
            eventLog_.Write(kEventKindWarning, kEventTerminationRefused, ActionText(record));
        } else if (IsRelaunch(record)) {
            eventLog_.Write(kEventKindInformation, kEventManagerRelaunched, ActionText(record));
        } else if (record.action == Action::Terminated &&
                   record.reason == ActionReason::OverdueCheck) {
            eventLog_.Write(kEventKindInformation, kEventOverdueCheckEnded, ActionText(record));
        }
    } catch (const std::exception&) {
        // A record that cannot be written is lost; the supervision goes on.
    }
}

void WindowsActionLog::SweepEnded(const std::vector<ActionRecord>& terminations) noexcept {
    try {
        // Short-lived tools ended in this sweep: name and count, in the order first ended.
        std::vector<std::pair<std::string, std::size_t>> tools;
        for (const auto& record : terminations) {
            if (record.action != Action::Terminated ||
                record.reason != ActionReason::ShortLivedTool) {
                continue;
            }
            const auto same = [&](const auto& tool) { return tool.first == record.program; };
            if (const auto found = std::find_if(tools.begin(), tools.end(), same);
                found != tools.end()) {
                ++found->second;
            } else {
                tools.emplace_back(record.program, 1);
            }
        }
        if (!tools.empty()) {
            eventLog_.Write(kEventKindInformation, kEventShortLivedTools,
                            ShortLivedToolsText(tools));
        }
    } catch (const std::exception&) {
    }
}

void WindowsActionLog::StopEnded(const std::vector<ActionRecord>& records) noexcept {
    try {
        eventLog_.Write(kEventKindInformation, kEventStopSummary, StopSummary(records).Text());
    } catch (const std::exception&) {
    }
}

} // namespace ostrivan::windows
