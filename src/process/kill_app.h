#pragma once

#include "platform/action_log.h"
#include "platform/process_api.h"

#include <cstdint>
#include <functional>
#include <string_view>

namespace ostrivan {

// How a target picks processes by their normalized image name.
enum class NameMatch {
    Suffix, // the name ends with the lower-cased target
    Exact,  // the name is the lower-cased target
};

// Told of every matching process: its normalized name, its id and what became of it
// (Terminated, TerminationRefused or AlreadyGone).
using KillReport = std::function<void(const std::string& name, ProcessId id, Action outcome)>;

// Terminates every process whose image name matches `target`, with exit code 0.
// True when something matched. Never raises.
bool KillApp(ProcessApi& api, std::string_view target, NameMatch match = NameMatch::Suffix,
             const KillReport& report = {});

// Asked on the handle that will terminate: true when it holds the process meant.
using ProcessCheck = std::function<bool(Handle process)>;

// KillProcess, telling apart a refused termination and a process that had ended, or
// whose id names another process by now.
Action KillProcessOutcome(ProcessApi& api, ProcessId processId, std::uint32_t exitCode,
                          const ProcessCheck& isMeant);

// Terminates one process, with the debug privilege raised around it on the NT family,
// through the handle on which `isMeant` has just confirmed it. True when the termination
// succeeded. Never raises.
bool KillProcess(ProcessApi& api, ProcessId processId, std::uint32_t exitCode,
                 const ProcessCheck& isMeant);

} // namespace ostrivan
