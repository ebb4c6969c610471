#include "status/status_collect.h"

#include "process/process_identity.h"
#include "process/process_probes.h"
#include "supervisor/check_clock.h"
#include "supervisor/suite_programs.h"

namespace ostrivan {
namespace {

// The copy the service launched when it runs, else the first one the snapshot lists.
const ProcessEntry* FindProgram(const std::vector<ProcessEntry>& snapshot, std::string_view program,
                                ProcessId launched) {
    const ProcessEntry* found = nullptr;
    for (const auto& entry : snapshot) {
        if (entry.Name == program && (found == nullptr || entry.ProcessId == launched)) {
            found = &entry;
        }
    }
    return found;
}

ProgramStatus Running(std::string_view program, const ProcessIdentity& identity, ProcessId launched,
                      ProcessApi& api, StatusPlatform& platform) {
    ProgramStatus status;
    status.name = program;
    status.running = true;
    status.pid = identity.id;
    status.creationTime = identity.creationTime;
    status.launchedByService = launched != 0 && identity.id == launched;
    status.sinceUtc = platform.CreationTimeUtc(identity.creationTime);
    status.workingSet = GetWorkingSetSize(api, identity);
    return status;
}

ProgramStatus CollectProgram(std::string_view program, const std::vector<ProcessEntry>& snapshot,
                             ProcessId launched, ProcessApi& api, StatusPlatform& platform) {
    const ProcessEntry* entry = FindProgram(snapshot, program, launched);
    const auto identity = entry != nullptr ? IdentifyProcess(api, entry->ProcessId) : std::nullopt;
    if (!identity) {
        ProgramStatus status;
        status.name = program;
        return status;
    }
    return Running(program, *identity, launched, api, platform);
}

// The keeper may have launched a manager after the sweep's snapshot was taken.
ProgramStatus CollectManager(const std::vector<ProcessEntry>& snapshot, const ProcessIdentity& ours,
                             ProcessApi& api, StatusPlatform& platform) {
    ProgramStatus status = CollectProgram(suite::kManager, snapshot, ours.id, api, platform);
    if (ours.id != 0 && status.pid != ours.id && StillSameProcess(api, ours)) {
        return Running(suite::kManager, ours, ours.id, api, platform);
    }
    return status;
}

std::string NameOf(const std::vector<ProcessEntry>& snapshot, ProcessId pid) {
    for (const auto& entry : snapshot) {
        if (entry.ProcessId == pid) {
            return entry.Name;
        }
    }
    return "";
}

} // namespace

StatusReport CollectStatus(const ServiceFacts& facts, const SupervisorState& state,
                           const std::vector<ProcessEntry>& snapshot, const StatusTally& tally,
                           ProcessApi& api, StatusPlatform& platform) {
    StatusReport report;
    report.state = facts.state;
    report.servicePid = platform.OwnProcessId();
    if (const auto own = IdentifyProcess(api, report.servicePid)) {
        report.serviceCreationTime = own->creationTime;
    }
    report.startedUtc = facts.startedUtc;
    report.runningSinceUtc = facts.runningSinceUtc;
    report.writtenUtc = UtcSeconds(platform.UtcNow());
    report.lastSweepUtc = facts.lastSweepUtc;
    report.intervalSeconds = facts.intervalSeconds;

    for (const auto program : suite::kLaunchedPrograms) {
        report.programs.push_back(program == suite::kManager
                                      ? CollectManager(snapshot, state.ManagerPid, api, platform)
                                      : CollectProgram(program, snapshot,
                                                       tally.LaunchedPid(std::string(program)), api,
                                                       platform));
    }

    ManagerStatus& manager = report.manager;
    manager.pid = state.ManagerPid.id;
    manager.ceiling = suite::kManagerCeiling;
    for (const auto& program : report.programs) {
        if (program.name == suite::kManager && program.running && program.pid == manager.pid) {
            manager.workingSet = program.workingSet;
        }
    }
    manager.relaunches = tally.ManagerRelaunches();
    manager.lastReason = tally.LastRelaunchReason();
    manager.lastRelaunchUtc = tally.LastRelaunchUtc();

    for (const auto& pending : state.PendingKills) {
        report.pendingTools.push_back(PendingTool{pending.id, NameOf(snapshot, pending.id)});
    }
    for (std::size_t i = 1; i < state.CheckTable.size(); ++i) {
        const CheckRecord& row = state.CheckTable[i];
        report.checks.push_back(
            TrackedCheck{row.Process.id, row.Name, row.FirstSeenUtc(), row.Overdue != 0});
    }
    report.terminations = tally.Terminations();
    report.stopRequests = StopRequests{tally.AskedToEnd(), tally.EndedWhenAsked()};
    report.refusals = tally.Refusals();
    report.lastRefusal = tally.LastRefusal();
    return report;
}

} // namespace ostrivan
