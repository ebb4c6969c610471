#include "supervisor/supervisor.h"

#include "process/process_probes.h"
#include "supervisor/suite_programs.h"

namespace ostrivan {

// The manager counts as ours only while its id still carries the creation time its launch
// gave; a process that inherited the id is never measured or terminated. Whether it runs is
// asked of the process, not read from its exit code: the keeper ends it with the running code.
void Supervisor::KeepManagerAlive() {
    ActionRecord why;
    why.reason = ActionReason::ManagerFirstLaunch;
    if (state_.ManagerPid.id != 0) {
        if (!ProcessRunning(process_, state_.ManagerPid)) {
            why.reason = ActionReason::ManagerEnded;
            NoteManagerEnd(why);
        } else {
            const std::uint64_t workingSet = GetWorkingSetSize(process_, state_.ManagerPid);
            if (workingSet <= suite::kManagerCeiling) {
                return;
            }
            why.reason = ActionReason::ManagerOverCeiling;
            why.workingSet = workingSet;
            EndManager(why);
        }
    }
    state_.ManagerPid = LaunchRecorded(suite::kManager, {}, why);
}

void Supervisor::EndManager(ActionRecord record) {
    record.action = EndProcess(process_, state_.ManagerPid, kStillActive);
    record.program = suite::kManager;
    record.pid = state_.ManagerPid.id;
    record.exitCode = kStillActive;
    log_.Record(record);
}

} // namespace ostrivan
