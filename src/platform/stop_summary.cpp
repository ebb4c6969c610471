#include "platform/stop_summary.h"

#include "platform/stop_timing.h"

namespace ostrivan {
namespace {

std::string Named(const ActionRecord& record) {
    return record.program + ", pid " + std::to_string(record.pid);
}

// "2 processes (a, pid 1; b, pid 2)"; the count alone when there are none.
std::string Counted(const std::vector<std::string>& names, const char* singular,
                    const char* plural) {
    std::string text = std::to_string(names.size()) + " " + (names.size() == 1 ? singular : plural);
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? " (" : "; ") + names[i];
    }
    return names.empty() ? text : text + ")";
}

} // namespace

StopSummary::StopSummary(const std::vector<ActionRecord>& records) {
    for (const auto& record : records) {
        Add(record);
    }
}

void StopSummary::Add(const ActionRecord& record) {
    if (record.reason == ActionReason::StopRequest) {
        if (record.action == Action::AskedToEnd) {
            asked_.push_back(Named(record));
        } else if (record.action == Action::EndedWhenAsked) {
            ++endedInTime_;
        }
    } else if (record.reason == ActionReason::ShutdownList) {
        if (record.action == Action::Terminated) {
            terminated_.push_back(Named(record));
        } else if (record.action == Action::TerminationRefused) {
            refused_.push_back(Named(record));
        }
    }
}

std::string StopSummary::Text() const {
    std::string text =
        asked_.empty()
            ? std::string("Stop: no program of the suite was running to be asked to end")
            : "Stop: asked " + Counted(asked_, "program of the suite", "programs of the suite") +
                  " to end; " + std::to_string(endedInTime_) + " ended within " +
                  std::to_string(kStopGraceMs / 1000) + " s";
    text += "; the shutdown list then terminated " + Counted(terminated_, "process", "processes");
    if (!refused_.empty()) {
        text += "; it could not terminate " + Counted(refused_, "process", "processes");
    }
    return text + ".";
}

} // namespace ostrivan
