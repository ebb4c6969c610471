#include "supervisor/supervisor.h"

#include "process/process_probes.h"
#include "supervisor/suite_programs.h"

namespace ostrivan {

namespace {

// How long a sweep waits for the manager it terminated to end before it launches the next:
// long enough for the platform to finish the termination, short enough for a sweep.
constexpr std::uint32_t kManagerEndWait = 5000;

} // namespace

// The manager counts as ours only while its id still carries the creation time its launch
// gave; a process that inherited the id is never measured or terminated. Whether it runs is
// asked of the process, not read from its exit code: the keeper ends it with the running code.
// One manager at a time: the next is launched only once the last has ended.
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
            if (!EndManager(why)) {
                // Still running: a later sweep launches the next once it has ended, or tries
                // the termination again.
                return;
            }
        }
    }
    state_.ManagerPid = LaunchRecorded(suite::kManager, {}, why);
}

bool Supervisor::EndManager(ActionRecord record) {
    record.action = EndProcess(process_, state_.ManagerPid, kStillActive);
    record.program = suite::kManager;
    record.pid = state_.ManagerPid.id;
    record.exitCode = kStillActive;
    log_.Record(record);
    switch (record.action) {
    case Action::Terminated:
        return WaitForProcessEnd(process_, state_.ManagerPid, kManagerEndWait);
    case Action::AlreadyGone:
        return true;
    default:
        return false;
    }
}

} // namespace ostrivan
