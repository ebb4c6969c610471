#pragma once

#include "platform/process_api.h"

#include <cstdint>

namespace ostrivan {

// Bytes in the working set; 0 when it cannot be read. Never raises.
std::uint64_t GetWorkingSetSize(ProcessApi& api, ProcessId processId);

// 259 while running, the exit code once ended, 0 when it cannot be read. Never raises.
std::uint32_t GetExitStatus(ProcessApi& api, ProcessId processId);

// Plain termination without privilege; silent on every failure.
void EndProcess(ProcessApi& api, ProcessId processId, std::uint32_t exitCode);

} // namespace ostrivan
