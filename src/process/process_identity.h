#pragma once

#include "platform/process_api.h"

#include <cstdint>
#include <optional>

namespace ostrivan {

// A process id alone can be handed to another process once its owner ends; with the
// creation time it names one process for good.
struct ProcessIdentity {
    ProcessId id = 0;
    std::uint64_t creationTime = 0;

    friend bool operator==(const ProcessIdentity&, const ProcessIdentity&) = default;
};

// The identity of the process that carries `processId` now; nothing when it cannot be
// opened or asked. Never raises.
std::optional<ProcessIdentity> IdentifyProcess(ProcessApi& api, ProcessId processId);

// True when `identity.id` still names the process that `identity` recorded.
bool StillSameProcess(ProcessApi& api, const ProcessIdentity& identity);

} // namespace ostrivan
