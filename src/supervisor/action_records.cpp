#include "supervisor/supervisor.h"

#include "process/kill_app.h"
#include "process/launch.h"
#include "process/process_probes.h"
#include "supervisor/suite_path.h"

namespace ostrivan {

ProcessIdentity Supervisor::LaunchRecorded(std::string_view program, std::string_view arguments,
                                           ActionRecord record) {
    const ProcessIdentity launched =
        Launch(runtime_, SuiteProgramPath(runtime_, program), std::string(arguments), kNormalFocus);
    record.action = Action::Launched;
    record.program = program;
    record.arguments = arguments;
    record.pid = launched.id;
    log_.Record(record);
    return launched;
}

void Supervisor::KillAppRecorded(std::string_view target, ActionReason reason, NameMatch match,
                                 std::int64_t firstSeenUtc) {
    KillApp(process_, target, match, [&](const std::string& name, ProcessId id, Action outcome) {
        ActionRecord record;
        record.action = outcome;
        record.reason = reason;
        record.firstSeenUtc = firstSeenUtc;
        record.program = name;
        record.pid = id;
        log_.Record(record);
    });
}

void Supervisor::NoteManagerEnd(ActionRecord& record) {
    // The end the platform collected itself is the one that is known: once collected, the
    // process can no longer be asked.
    if (const auto end = runtime_.EndOfLaunched(state_.ManagerPid)) {
        record.exitCode = end->exitCode;
        record.exitSignal = end->signal;
        return;
    }
    const auto code = ReadExitCode(process_, state_.ManagerPid);
    record.exitCode = code.value_or(0);
    record.exitCodeKnown = code.has_value();
}

} // namespace ostrivan
