#include "process/process_probes.h"

#include "platform/handles.h"
#include "process/kill_app.h"
#include "process/process_identity.h"

namespace ostrivan {

std::uint64_t GetWorkingSetSize(ProcessApi& api, const ProcessIdentity& identity) {
    ProcessHandle process(
        api, api.OpenProcess(access::kQueryInformation | access::kVmRead, identity.id));
    if (!process.Valid() || !IsProcess(api, process.Get(), identity)) {
        return 0;
    }
    MemoryCounters counters{};
    if (!api.GetProcessMemoryInfo(process.Get(), counters, api.MemoryCountersRecordSize())) {
        return 0;
    }
    return counters.workingSetSize;
}

std::optional<std::uint32_t> ReadExitCode(ProcessApi& api, const ProcessIdentity& identity) {
    std::uint32_t status = 0;
    ProcessHandle process(api, api.OpenProcess(access::kQueryInformation, identity.id));
    if (!process.Valid() || !IsProcess(api, process.Get(), identity) ||
        !api.GetExitCodeProcess(process.Get(), status)) {
        return std::nullopt;
    }
    return status;
}

std::uint32_t GetExitStatus(ProcessApi& api, const ProcessIdentity& identity) {
    return ReadExitCode(api, identity).value_or(0);
}

bool WaitForProcessEnd(ProcessApi& api, const ProcessIdentity& identity,
                       std::uint32_t milliseconds) {
    ProcessHandle process(
        api, api.OpenProcess(access::kSynchronize | access::kQueryLimitedInformation, identity.id));
    return !process.Valid() || !IsProcess(api, process.Get(), identity) ||
           api.WaitForSingleObject(process.Get(), milliseconds) != kWaitTimeout;
}

bool ProcessRunning(ProcessApi& api, const ProcessIdentity& identity) {
    return !WaitForProcessEnd(api, identity, 0);
}

Action EndProcess(ProcessApi& api, const ProcessIdentity& identity, std::uint32_t exitCode) {
    // Terminate alone cannot read the creation time the check needs, nor ask whether a
    // process that the platform refused to end has ended already.
    ProcessHandle process(api,
                          api.OpenProcess(access::kTerminate | access::kQueryLimitedInformation |
                                              access::kSynchronize,
                                          identity.id));
    if (!process.Valid()) {
        // Still there, then the platform refused the access.
        return StillSameProcess(api, identity) ? Action::TerminationRefused : Action::AlreadyGone;
    }
    if (!IsProcess(api, process.Get(), identity)) {
        return Action::AlreadyGone;
    }
    return TerminateOutcome(api, process.Get(), exitCode);
}

} // namespace ostrivan
