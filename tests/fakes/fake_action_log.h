#pragma once

#include "platform/action_log.h"

#include <vector>

namespace ostrivan::fakes {

// The platform's action log, simulated: keeps every record and counts the ends of sweeps.
class FakeActionLog : public ActionLog {
public:
    void Record(const ActionRecord& record) noexcept override { records_.push_back(record); }
    void SweepEnded(const std::vector<ActionRecord>&) noexcept override { ++sweepsEnded_; }
    void StopEnded(const std::vector<ActionRecord>&) noexcept override {}

    const std::vector<ActionRecord>& Records() const { return records_; }
    int SweepsEnded() const { return sweepsEnded_; }

private:
    std::vector<ActionRecord> records_;
    int sweepsEnded_ = 0;
};

} // namespace ostrivan::fakes
