#include "process/process_probes.h"

#include "platform/handles.h"

namespace ostrivan {

std::uint64_t GetWorkingSetSize(ProcessApi& api, ProcessId processId) {
    ProcessHandle process(api,
                          api.OpenProcess(access::kQueryInformation | access::kVmRead, processId));
    if (!process.Valid()) {
        return 0;
    }
    MemoryCounters counters{};
    if (!api.GetProcessMemoryInfo(process.Get(), counters, api.MemoryCountersRecordSize())) {
        return 0;
    }
    return counters.workingSetSize;
}

std::uint32_t GetExitStatus(ProcessApi& api, ProcessId processId) {
    std::uint32_t status = 0;
    ProcessHandle process(api, api.OpenProcess(access::kQueryInformation, processId));
    if (process.Valid()) {
        api.GetExitCodeProcess(process.Get(), status);
    }
    return status;
}

void EndProcess(ProcessApi& api, ProcessId processId, std::uint32_t exitCode) {
    ProcessHandle process(api, api.OpenProcess(access::kTerminate, processId));
    if (process.Valid()) {
        api.TerminateProcess(process.Get(), exitCode);
    }
}

} // namespace ostrivan
