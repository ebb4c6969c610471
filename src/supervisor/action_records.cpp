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

ActionRecord Supervisor::Record(Action action, ActionReason reason, const std::string& program,
                                ProcessId pid) {
    ActionRecord record;
    record.action = action;
    record.reason = reason;
    record.program = program;
    record.pid = pid;
    log_.Record(record);
    return record;
}

std::vector<ActionRecord> Supervisor::KillAppRecorded(std::string_view target,
                                                      ActionReason reason) {
    std::vector<ActionRecord> records;
    KillApp(process_, target, [&](const std::string& name, ProcessId id, Action outcome) {
        records.push_back(Record(outcome, reason, name, id));
    });
    return records;
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
