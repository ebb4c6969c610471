#pragma once

#include "platform/action_log.h"
#include "platform/form_runtime.h"
#include "platform/process_api.h"
#include "platform/service_host.h"
#include "supervisor/supervisor_state.h"

#include <string>

namespace ostrivan {

// What the service does to the suite's processes on start, on stop and on every tick.
// Failures that the handlers report are raised as Failure to the calling handler.
class Supervisor {
public:
    Supervisor(ProcessApi& process, FormRuntime& runtime, ActionLog& log)
        : process_(process), runtime_(runtime), log_(log) {}

    SupervisorState& State() { return state_; }
    const SupervisorState& State() const { return state_; }

    // Stage one raises; a failed launch in stage two is shown in a message box.
    void StartWorkers(HostFlag& success);
    void StopWorkers();
    // Steps 2 and 4 raise; steps 1 and 3 absorb their own failures.
    void Sweep();

    void KillPendingProcesses();
    void ReapOverdueChecks();
    void ScanProcesses();
    void TrackCheckProcess(std::string name);
    void KeepManagerAlive();

private:
    ProcessApi& process_;
    FormRuntime& runtime_;
    ActionLog& log_;
    SupervisorState state_;
};

} // namespace ostrivan
