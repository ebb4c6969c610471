#include "supervisor/supervisor.h"

#include "process/kill_app.h"
#include "process/launch.h"
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

} // namespace ostrivan
