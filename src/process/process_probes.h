#pragma once

#include "platform/action_log.h"
#include "platform/process_api.h"
#include "process/process_identity.h"

#include <cstdint>
#include <optional>

namespace ostrivan {

// Each of these asks the process `identity` names, on the one handle it acts through; a
// process that was handed the id since reads as gone.

// Bytes in the working set; 0 when it cannot be read. Never raises.
std::uint64_t GetWorkingSetSize(ProcessApi& api, const ProcessIdentity& identity);

// 259 while running, the exit code once ended, nothing when it cannot be read: an ended
// process that no handle holds any more cannot be opened. Never raises.
std::optional<std::uint32_t> ReadExitCode(ProcessApi& api, const ProcessIdentity& identity);

// 259 while running, the exit code once ended, 0 when it cannot be read. Never raises.
std::uint32_t GetExitStatus(ProcessApi& api, const ProcessIdentity& identity);

// True while the process runs, as the process itself tells: its exit code plays no part, so
// one that ended with 259 has ended all the same. Never raises.
bool ProcessRunning(ProcessApi& api, const ProcessIdentity& identity);

// Waits up to `milliseconds` for the process to end; true once it has, or when it cannot be
// opened any more. Never raises.
bool WaitForProcessEnd(ProcessApi& api, const ProcessIdentity& identity,
                       std::uint32_t milliseconds);

// Plain termination without privilege; raises nothing. Tells what became of the process:
// Terminated, TerminationRefused while it still runs, or AlreadyGone once it has ended (in
// the meantime, too) or its id names another process.
Action EndProcess(ProcessApi& api, const ProcessIdentity& identity, std::uint32_t exitCode);

} // namespace ostrivan
