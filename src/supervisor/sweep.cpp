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
// UNKNOWN in the monitoring-plugin convention the check programs follow: whoever launched a
// hung check must not read its end as a pass.
constexpr std::uint32_t kOverdueCheckExitCode = 3;

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

// Rows whose run is gone go: a later run of that name is another process, timed from its own
// first sighting, and the table holds only what runs. A run the scan saw but could not ask
// for its identity keeps its row.
void ForgetEndedChecks(std::vector<CheckRecord>& table, const std::vector<ProcessId>& seen) {
    const auto ended = [&](const CheckRecord& row) {
        return std::find(seen.begin(), seen.end(), row.Process.id) == seen.end();
    };
    table.erase(std::remove_if(table.begin() + 1, table.end(), ended), table.end());
}

} // namespace

void Supervisor::Sweep(SweepOutcome& outcome) {
    KillPendingProcesses(outcome);
    ReapOverdueChecks(outcome);
    ScanProcesses(outcome);
    KeepManagerAlive();
}

void Supervisor::KillPendingProcesses(SweepOutcome& outcome) {
    if (ArraySize(state_.PendingKills) < 1) {
        return;
    }
    // One failing id never keeps the others from their termination.
    for (const auto& pending : state_.PendingKills) {
        try {
            outcome.terminations.push_back(KillPendingProcess(process_, pending));
            log_.Record(outcome.terminations.back());
        } catch (const Failure&) {
        } catch (const std::bad_alloc&) {
        }
    }
    std::vector<ProcessIdentity>().swap(state_.PendingKills);
}

void Supervisor::ReapOverdueChecks(SweepOutcome& outcome) {
    std::vector<CheckRecord> survivors{CheckRecord{}};
    const std::size_t highest = state_.CheckTable.size() - 1;
    for (std::size_t i = 1; i <= highest; ++i) {
        const CheckRecord& row = state_.CheckTable[i];
        if (row.Overdue != 0) {
            outcome.terminations.push_back(EndOverdueCheck(row));
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

ActionRecord Supervisor::EndOverdueCheck(const CheckRecord& row) {
    ActionRecord record;
    record.reason = ActionReason::OverdueCheck;
    record.program = row.Name;
    record.pid = row.Process.id;
    record.exitCode = kOverdueCheckExitCode;
    record.firstSeenUtc = row.FirstSeenUtc();
    // That run only: the other runs of its name are timed on their own.
    record.action =
        KillProcessOutcome(process_, row.Process.id, kOverdueCheckExitCode,
                           [&](Handle run) { return IsProcess(process_, run, row.Process); });
    log_.Record(record);
    return record;
}

void Supervisor::ScanProcesses(SweepOutcome& outcome) {
    // A failure ends the pass quietly; what was recorded so far stays.
    try {
        const std::vector<std::string> shortKillList = SplitList(suite::kShortKillList);
        outcome.snapshot = TryTakeProcessSnapshot(process_);
        if (!outcome.snapshot) {
            return;
        }
        std::vector<ProcessId> checksSeen;
        for (const ProcessEntry& entry : *outcome.snapshot) {
            if (IsTrackedCheckProgram(entry.Name)) {
                checksSeen.push_back(entry.ProcessId);
                if (const auto run = IdentifyProcess(process_, entry.ProcessId)) {
                    TrackCheckProcess(*run, entry.Name);
                }
            }
            if (IsShortLivedTool(entry.Name, shortKillList)) {
                if (const auto identity = IdentifyProcess(process_, entry.ProcessId)) {
                    state_.PendingKills.push_back(*identity);
                }
            }
        }
        ForgetEndedChecks(state_.CheckTable, checksSeen);
    } catch (const Failure&) {
    } catch (const std::bad_alloc&) {
    }
}

void Supervisor::TrackCheckProcess(const ProcessIdentity& run, std::string name) {
    const std::size_t highest = state_.CheckTable.size() - 1;
    for (std::size_t i = 1; i <= highest; ++i) {
        CheckRecord& row = state_.CheckTable[i];
        if (row.Process == run) {
            if (MinuteDifference(row.FirstSeen, runtime_.MonotonicNow()) >= kOverdueMinutes) {
                row.Overdue = kMarked;
            }
            return;
        }
    }
    // A row of this id with another creation time timed a run that has ended since.
    auto& table = state_.CheckTable;
    table.erase(std::remove_if(table.begin() + 1, table.end(),
                               [&](const CheckRecord& row) { return row.Process.id == run.id; }),
                table.end());
    state_.CheckTable.push_back(
        CheckRecord{std::move(name), {runtime_.UtcNow(), runtime_.MonotonicNow()}, 0, run});
}

} // namespace ostrivan
