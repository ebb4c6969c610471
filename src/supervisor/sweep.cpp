#include "supervisor/supervisor.h"

#include "platform/failure.h"
#include "platform/handles.h"
#include "process/kill_app.h"
#include "process/process_snapshot.h"
#include "supervisor/array_size.h"
#include "supervisor/local_date.h"
#include "supervisor/suite_programs.h"

#include <new>
#include <string_view>
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
// an image name that is still a short-lived tool's. Anything else is left alone.
bool StillPendingTool(ProcessApi& api, Handle process, const ProcessIdentity& pending) {
    std::string imageName;
    return IsProcess(api, process, pending) && api.GetProcessImageName(process, imageName) &&
           IsShortLivedTool(NormalizeImageName(imageName), SplitList(suite::kShortKillList));
}

void KillPendingProcess(ProcessApi& api, const ProcessIdentity& pending) {
    ProcessHandle probe(api, api.OpenProcess(access::kAllAccessNt5, pending.id));
    // A handle counts only when positive as a signed 32-bit value. The tool is confirmed on
    // the handle that terminates it.
    if (static_cast<std::int32_t>(probe.Get()) > 0) {
        KillProcess(api, pending.id, 0,
                    [&](Handle process) { return StillPendingTool(api, process, pending); });
    }
}

} // namespace

void Supervisor::Sweep() {
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
            KillPendingProcess(process_, pending);
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
            KillApp(process_, row.Name);
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
        state_.LastScan = TakeProcessSnapshot(process_);
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
    } catch (const Failure&) {
    } catch (const std::bad_alloc&) {
    }
}

void Supervisor::TrackCheckProcess(std::string name) {
    const std::size_t highest = state_.CheckTable.size() - 1;
    for (std::size_t i = 1; i <= highest; ++i) {
        CheckRecord& row = state_.CheckTable[i];
        if (row.Name == name) {
            if (MinuteDifference(row.FirstSeen, ToOleDate(runtime_.Now())) >= kOverdueMinutes) {
                row.Overdue = kMarked;
            }
            return;
        }
    }
    state_.CheckTable.push_back(CheckRecord{std::move(name), ToOleDate(runtime_.Now()), 0});
}

} // namespace ostrivan
