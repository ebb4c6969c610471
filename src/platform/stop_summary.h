#pragma once

#include "platform/action_log.h"

#include <cstddef>
#include <string>
#include <vector>

namespace ostrivan {

// What one stop did, gathered from its records for the one entry that sums it up: the
// programs asked to end, how many of them ended in time, and what the shutdown list then
// terminated or could not terminate.
class StopSummary {
public:
    // From the records of the stop; any other record is left out.
    explicit StopSummary(const std::vector<ActionRecord>& records);

    std::size_t Asked() const { return asked_.size(); }
    std::size_t EndedInTime() const { return endedInTime_; }
    std::size_t Terminated() const { return terminated_.size(); }
    std::size_t Refused() const { return refused_.size(); }

    // "Stop: asked 2 programs of the suite (o-alerts.exe, pid 10; o-graphs.exe, pid 11) to
    // end; 1 ended within 10 s; the shutdown list then terminated 1 process (o-graphs.exe,
    // pid 11)."
    std::string Text() const;

private:
    void Add(const ActionRecord& record);

    std::vector<std::string> asked_;
    std::size_t endedInTime_ = 0;
    std::vector<std::string> terminated_;
    std::vector<std::string> refused_;
};

} // namespace ostrivan
