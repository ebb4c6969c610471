#pragma once

#include "platform/action_log.h"
#include "platform/form_runtime.h"
#include "platform/process_api.h"
#include "platform/service_host.h"
#include "process/ask_to_end.h"
#include "process/kill_app.h"
#include "supervisor/supervisor_state.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrivan {

// Told during a stop how much longer, in milliseconds, the stop may still take.
using StopProgress = std::function<void(std::uint32_t milliseconds)>;

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
    // Asks the suite to end, gives it the grace period, then runs the shutdown list; tells
    // `progress` how long it may still take while it waits.
    void StopWorkers(const StopProgress& progress = {});
    // Steps 2 and 4 raise; steps 1 and 3 absorb their own failures. What the sweep did is
    // in `outcome` however it ended.
    void Sweep(SweepOutcome& outcome);

    void KillPendingProcesses(SweepOutcome& outcome);
    void ReapOverdueChecks(SweepOutcome& outcome);
    void ScanProcesses(SweepOutcome& outcome);
    void TrackCheckProcess(const ProcessIdentity& run, std::string name);
    void KeepManagerAlive();

private:
    // Launches a program of the suite's folder and records it with the reason in `record`.
    ProcessIdentity LaunchRecorded(std::string_view program, std::string_view arguments,
                                   ActionRecord record);
    // How the ended manager ended, into the relaunch's record.
    void NoteManagerEnd(ActionRecord& record);
    // Terminates the manager over its ceiling (`record` holds the reason), records it and
    // waits a moment for its end; true once it has ended.
    bool EndManager(ActionRecord record);
    // Terminates an overdue run through a handle on which it is confirmed, and records it.
    ActionRecord EndOverdueCheck(const CheckRecord& row);
    // The stop's first step: asks each of the suite's programs that runs to end, and waits
    // for them until the grace period is over. Absorbs its own failures.
    // Each record it makes is also added to `records`.
    void AskSuiteToEnd(const StopProgress& progress, std::vector<ActionRecord>& records);
    // Waits on their handles until every asked program has ended or the monotonic clock
    // reads `deadline`, recording each end; `asked` keeps those still running.
    void AwaitEnds(std::vector<AskedProcess>& asked, std::int64_t deadline,
                   const StopProgress& progress, std::vector<ActionRecord>& records);
    ActionRecord Record(Action action, ActionReason reason, const std::string& program,
                        ProcessId pid);
    // KillApp, each matching process recorded with `reason`; the records it made.
    std::vector<ActionRecord> KillAppRecorded(std::string_view target, ActionReason reason);

    ProcessApi& process_;
    FormRuntime& runtime_;
    ActionLog& log_;
    SupervisorState state_;
};

} // namespace ostrivan
