#pragma once

#include "platform/process_api.h"

#include <cstdint>
#include <string_view>

namespace ostrivan {

// Terminates every process whose image name ends with `target`, with exit code 0.
// True when something matched. Never raises.
bool KillApp(ProcessApi& api, std::string_view target);

// Terminates one process, with the debug privilege raised around it on the NT family.
// True when the termination succeeded. Never raises.
bool KillProcess(ProcessApi& api, ProcessId processId, std::uint32_t exitCode);

} // namespace ostrivan
