#include "process/process_identity.h"

#include "platform/handles.h"

namespace ostrivan {

std::optional<ProcessIdentity> IdentifyProcess(ProcessApi& api, ProcessId processId) {
    ProcessHandle process(api, api.OpenProcess(access::kQueryLimitedInformation, processId));
    if (!process.Valid()) {
        return std::nullopt;
    }
    std::uint64_t creationTime = 0;
    if (!api.GetProcessCreationTime(process.Get(), creationTime)) {
        return std::nullopt;
    }
    return ProcessIdentity{processId, creationTime};
}

bool IsProcess(ProcessApi& api, Handle process, const ProcessIdentity& identity) {
    std::uint64_t creationTime = 0;
    return api.GetProcessCreationTime(process, creationTime) &&
           creationTime == identity.creationTime;
}

bool StillSameProcess(ProcessApi& api, const ProcessIdentity& identity) {
    const auto now = IdentifyProcess(api, identity.id);
    return now && *now == identity;
}

} // namespace ostrivan
