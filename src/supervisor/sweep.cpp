#include "supervisor/supervisor.h"

#include "platform/failure.h"
#include "platform/handles.h"
#include "process/kill_app.h"
#include "process/process_identity.h"
#include "process/process_snapshot.h"
#include "supervisor/array_size.h"
#include "supervisor/check_clock.h"
#include "supervisor/suite_programs.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrivan {
namespace {

constexpr std::int16_t kMarked = -1;
constexpr std::int64_t kOverdueMinutes = 3;

std::vector<std::string> SplitList(std::string_view text) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        entries.emplace_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos) {
            return entries;
        }
        start = comma + 1;
    }
}

bool IsTrackedCheckProgram(std::string_view name) {
    return name.find(suite::kExcludedWord) == std::string_view::npos &&
           name.ends_with(suite::kCheckSuffix);
}

bool IsShortLivedTool(std::string_view name, const std::vector<std::string>& shortKillList) {
    for (const auto& tool : shortKillList) {
        if (MatchImageName(name, tool)) {
            return true;
        }
    }
    return false;
}

// The pending id must still name the tool that the last sweep saw: same creation time, and
// an image name that is still a short-lived tool's. Anything else is left alone. The name
// is kept for the record.
bool StillPendingTool(ProcessApi& api, Handle process, const ProcessIdentity& pending,
                      std::string& name) {
    std::string imageName;
    if (!IsProcess(api, process, pending) || !api.GetProcessImageName(process, imageName)) {
        return false;
    }
    name = NormalizeImageName(imageName);
    return IsShortLivedTool(name, SplitList(suite::kShortKillList));
}

ActionRecord KillPendingProcess(ProcessApi& api, const ProcessIdentity& pending) {
    ActionRecord record;
    record.action = Action::AlreadyGone;
    record.reason = ActionReason::ShortLivedTool;
    record.pid = pending.id;
    ProcessHandle probe(api, api.OpenProcess(access::kAllAccessNt5, pending.id));
    // A handle counts only when positive as a signed 32-bit value. The tool is confirmed on
    // the handle that terminates it.
    if (static_cast<std::int32_t>(probe.Get()) > 0) {
        record.action = KillProcessOutcome(api, pending.id, 0, [&](Handle process) {
            return StillPendingTool(api, process, pending, record.program);
        });
    } else if (StillSameProcess(api, pending)) {
        record.action = Action::TerminationRefused; // there, but not to be opened
    }
    return record;
}

// Rows whose name no process carries any more go: a later run of that name is another
// program, timed from its own first sighting, and the table holds only what runs.
void ForgetEndedChecks(std::vector<CheckRecord>& table, const std::vector<ProcessEntry>& snapshot) {
    const auto ended = [&](const CheckRecord& row) {
        return std::none_of(snapshot.begin(), snapshot.end(),
                            [&](const ProcessEntry& entry) { return entry.Name == row.Name; });
    };
    table.erase(std::remove_if(table.begin() + 1, table.end(), ended), table.end());
}

} // namespace

void Supervisor::Sweep() {
    // However the sweep ends, the log learns that it has.
    struct SweepEnd {
        ActionLog& log;
        ~SweepEnd() { log.SweepEnded(); }
    } const end{log_};
    KillPendingProcesses();
    ReapOverdueChecks();
    ScanProcesses();
    KeepManagerAlive();
}

void Supervisor::KillPendingProcesses() {
    if (ArraySize(state_.PendingKills) < 1) {
        return;
    }
    // One failing id never keeps the others from their termination.
    for (const auto& pending : state_.PendingKills) {
        try {
            log_.Record(KillPendingProcess(process_, pending));
        } catch (const Failure&) {
        } catch (const std::bad_alloc&) {
        }
    }
    std::vector<ProcessIdentity>().swap(state_.PendingKills);
}

void Supervisor::ReapOverdueChecks() {
    std::vector<CheckRecord> survivors{CheckRecord{}};
    const std::size_t highest = state_.CheckTable.size() - 1;
    for (std::size_t i = 1; i <= highest; ++i) {
        const CheckRecord& row = state_.CheckTable[i];
        if (row.Overdue != 0) {
            // That program only: another whose name merely ends the same is not overdue.
            KillAppRecorded(row.Name, ActionReason::OverdueCheck, NameMatch::Exact,
                            row.FirstSeenUtc());
        } else {
            survivors.push_back(row);
        }
    }
    // Rebuilt row by row: a failure part way leaves the rows copied so far.
    std::vector<CheckRecord>{CheckRecord{}}.swap(state_.CheckTable);
    for (std::size_t j = 1; j < survivors.size(); ++j) {
        state_.CheckTable.push_back(survivors[j]);
    }
}

void Supervisor::ScanProcesses() {
    // A failure ends the pass quietly; what was recorded so far stays.
    try {
        const std::vector<std::string> shortKillList = SplitList(suite::kShortKillList);
        const auto snapshot = TryTakeProcessSnapshot(process_);
        // The status file names what this scan saw; a scan without a snapshot saw nothing.
        state_.LastScan.clear();
        if (!snapshot) {
            return;
        }
        state_.LastScan = std::move(*snapshot);
        for (const ProcessEntry& entry : state_.LastScan) {
            if (IsTrackedCheckProgram(entry.Name)) {
                TrackCheckProcess(entry.Name);
            }
            if (IsShortLivedTool(entry.Name, shortKillList)) {
                if (const auto identity = IdentifyProcess(process_, entry.ProcessId)) {
                    state_.PendingKills.push_back(*identity);
                }
            }
        }
        ForgetEndedChecks(state_.CheckTable, state_.LastScan);
    } catch (const Failure&) {
    } catch (const std::bad_alloc&) {
    }
}

void Supervisor::TrackCheckProcess(std::string name) {
    const std::size_t highest = state_.CheckTable.size() - 1;
    for (std::size_t i = 1; i <= highest; ++i) {
        CheckRecord& row = state_.CheckTable[i];
        if (row.Name == name) {
            if (MinuteDifference(row.FirstSeen, runtime_.MonotonicNow()) >= kOverdueMinutes) {
                row.Overdue = kMarked;
            }
            return;
        }
    }
    state_.CheckTable.push_back(
        CheckRecord{std::move(name), {runtime_.UtcNow(), runtime_.MonotonicNow()}, 0});
}

} // namespace ostrivan
