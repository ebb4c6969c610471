#pragma once

#include "platform/action_log.h"
#include "platform/form_runtime.h"
#include "platform/process_api.h"
#include "platform/service_host.h"
#include "process/kill_app.h"
#include "supervisor/supervisor_state.h"

#include <string>
#include <string_view>

namespace ostrivan {

// What the service does to the suite's processes on start, on stop and on every tick.
// Failures that the handlers report are raised as Failure to the calling handler. Every
// launch and termination is recorded in the action log with its reason.
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
    // Launches a program of the suite's folder and records it with the reason in `record`.
    ProcessIdentity LaunchRecorded(std::string_view program, std::string_view arguments,
                                   ActionRecord record);
    // How the ended manager ended, into the relaunch's record.
    void NoteManagerEnd(ActionRecord& record);
    // Terminates the manager over its ceiling (`record` holds the reason), and records it.
    void EndManager(ActionRecord record);
    // KillApp, each matching process recorded with `reason`.
    void KillAppRecorded(std::string_view target, ActionReason reason,
                         NameMatch match = NameMatch::Suffix, std::int64_t firstSeenUtc = 0);

    ProcessApi& process_;
    FormRuntime& runtime_;
    ActionLog& log_;
    SupervisorState state_;
};

} // namespace ostrivan
