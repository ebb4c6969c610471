#include "supervisor/supervisor.h"

#include "process/launch.h"
#include "process/process_probes.h"
#include "supervisor/suite_path.h"
#include "supervisor/suite_programs.h"

namespace ostrivan {
namespace {

// The manager counts as ours only while its id still carries the creation time we saw at
// launch; a process that inherited the id is never measured or terminated.
bool ManagerStillRunning(ProcessApi& api, const ProcessIdentity& manager) {
    if (manager.id == 0 || !StillSameProcess(api, manager)) {
        return false;
    }
    return GetExitStatus(api, manager.id) == kStillActive;
}

} // namespace

void Supervisor::KeepManagerAlive() {
    if (ManagerStillRunning(process_, state_.ManagerPid)) {
        if (GetWorkingSetSize(process_, state_.ManagerPid.id) <= suite::kManagerCeiling) {
            return;
        }
        EndProcess(process_, state_.ManagerPid.id, kStillActive);
    }
    const ProcessId launched =
        Launch(runtime_, SuiteProgramPath(runtime_, suite::kManager), "", kNormalFocus);
    // A manager that is gone before it can be identified reads as ended next time.
    state_.ManagerPid = IdentifyProcess(process_, launched).value_or(ProcessIdentity{launched, 0});
}

} // namespace ostrivan
