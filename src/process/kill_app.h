#pragma once

#include "platform/action_log.h"
#include "platform/process_api.h"

#include <cstdint>
#include <functional>
#include <string_view>

namespace ostrivan {

// Told of every matching process: its normalized name, its id and what became of it
// (Terminated, TerminationRefused or AlreadyGone).
using KillReport = std::function<void(const std::string& name, ProcessId id, Action outcome)>;

// Terminates every process whose image name matches `target`, with exit code 0.
// True when something matched. Never raises.
bool KillApp(ProcessApi& api, std::string_view target, const KillReport& report = {});

// Asked on the handle that will terminate: true when it holds the process meant.
using ProcessCheck = std::function<bool(Handle process)>;

// KillProcess, telling apart a refused termination and a process that had ended, or
// whose id names another process by now.
Action KillProcessOutcome(ProcessApi& api, ProcessId processId, std::uint32_t exitCode,
                          const ProcessCheck& isMeant);

// Terminates the process behind an open handle (with terminate and synchronize access):
// Terminated, or, when the platform refuses, AlreadyGone for a process that has ended by
// then and TerminationRefused for one that still runs.
Action TerminateOutcome(ProcessApi& api, Handle process, std::uint32_t exitCode);

// Terminates one process, with the debug privilege raised around it on the NT family,
// through the handle on which `isMeant` has just confirmed it. True when the termination
// succeeded. Never raises.
bool KillProcess(ProcessApi& api, ProcessId processId, std::uint32_t exitCode,
                 const ProcessCheck& isMeant);

} // namespace ostrivan
