#pragma once

#include "platform/action_log.h"
#include "platform/stop_summary.h"
#include "platform/windows/event_log.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace ostrivan::windows {

// The service's actions in the event log, where an administrator looks for what is out of
// the ordinary: the manager's relaunches and the ends of overdue check programs
// (information), refused terminations (warnings), and at most one entry per sweep that
// sums up the short-lived tools it ended, and one entry for each stop that sums up what it
// asked, what ended in time and what it terminated. Routine launches and the ends of the
// start-up list are not written.
class WindowsActionLog final : public ActionLog {
public:
    explicit WindowsActionLog(EventLog& eventLog) : eventLog_(eventLog) {}

    void Record(const ActionRecord& record) noexcept override;
    void SweepEnded(const std::vector<ActionRecord>& terminations) noexcept override;
    void StopEnded(const std::vector<ActionRecord>& records) noexcept override;

private:
    EventLog& eventLog_;
};

// "Ended 3 short-lived tools: rrdtool.exe (2), klaxo_msn.exe (1)".
std::string ShortLivedToolsText(const std::vector<std::pair<std::string, std::size_t>>& tools);

} // namespace ostrivan::windows
