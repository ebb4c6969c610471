#include "supervisor/supervisor.h"

#include "process/launch.h"
#include "process/process_probes.h"
#include "supervisor/suite_path.h"
#include "supervisor/suite_programs.h"

namespace ostrivan {
namespace {

// The manager counts as ours only while its id still carries the creation time its launch
// gave; a process that inherited the id is never measured or terminated. Whether it runs is
// asked of the process, not read from its exit code: the keeper ends it with the running code.
bool ManagerStillRunning(ProcessApi& api, const ProcessIdentity& manager) {
    return manager.id != 0 && ProcessRunning(api, manager);
}

} // namespace

void Supervisor::KeepManagerAlive() {
    if (ManagerStillRunning(process_, state_.ManagerPid)) {
        if (GetWorkingSetSize(process_, state_.ManagerPid) <= suite::kManagerCeiling) {
            return;
        }
        EndProcess(process_, state_.ManagerPid, kStillActive);
    }
    state_.ManagerPid =
        Launch(runtime_, SuiteProgramPath(runtime_, suite::kManager), "", kNormalFocus);
}

} // namespace ostrivan
