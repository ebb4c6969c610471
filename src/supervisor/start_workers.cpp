#include "supervisor/supervisor.h"

#include "platform/failure.h"
#include "process/kill_app.h"
#include "process/launch.h"
#include "supervisor/status_text.h"
#include "supervisor/suite_path.h"
#include "supervisor/suite_programs.h"

#include <new>

namespace ostrivan {
namespace {

constexpr const char* kShellingError = "Error Shelling file.\r\n";
constexpr const char* kShellingTitle = "Error";

void LaunchSuiteProgram(FormRuntime& runtime, std::string_view program,
                        std::string_view arguments = {}) {
    Launch(runtime, SuiteProgramPath(runtime, program), std::string(arguments), kNormalFocus);
}

void ShowShellingError(FormRuntime& runtime, const Failure& failure) {
    runtime.ShowMessageBox(kShellingError + failure.Description(), box::kExclamation,
                           std::string(kShellingTitle));
}

} // namespace

void Supervisor::StartWorkers(HostFlag& success) {
    runtime_.SetStatusText(status::kRunning);
    success = kHostTrue;

    // A program that cannot be started is shown to whoever sits at the console and ends
    // the sequence; the start itself stays reported as successful.
    try {
        LaunchSuiteProgram(runtime_, suite::kAlerts);
        LaunchSuiteProgram(runtime_, suite::kGraphs);
        LaunchSuiteProgram(runtime_, suite::kTrapReceiver);
        KeepManagerAlive();
        for (const auto name : suite::kStartupKillList) {
            KillApp(process_, name);
        }
        LaunchSuiteProgram(runtime_, suite::kWatcher, suite::kWatcherArguments);
    } catch (const Failure& failure) {
        ShowShellingError(runtime_, failure);
    } catch (const std::bad_alloc&) {
        // Any error of this stage takes the same way, running out of memory included.
        ShowShellingError(runtime_, OutOfMemoryFailure());
    }
}

} // namespace ostrivan
